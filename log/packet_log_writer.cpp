#include "log/packet_log_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/record_batch.h"
#include "platform/crash_handler.h"
#include "platform/user_message.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);
// The writer sleeps at most this long with records waiting; the putting
// thread wakes it early only once this much waits, so that a busy capture
// costs a wake-up per many records, not one per record.
constexpr auto kWriterNap = std::chrono::milliseconds(20);
constexpr std::uint64_t kWakeBytes = 64 * 1024;
constexpr auto kCloseCheck = std::chrono::milliseconds(10);
// How long the writer waits at a time for a file that takes nothing more
// (a FIFO no one reads), or for the writer before it, before it looks
// whether it was given up.
constexpr int kWaitSliceMs = 10;
// Room for the largest record (the dump of a 64 KiB packet) and for
// thousands of small ones per write.
constexpr std::size_t kBatchBytes = 512 * 1024;
constexpr std::size_t kCacheLine = 64;
constexpr std::size_t kPrefetchFrom = 4 * kCacheLine;
constexpr std::size_t kPrefetchTo = 6 * kCacheLine;

static_assert((PacketLogWriter::kBufferBytes & (PacketLogWriter::kBufferBytes - 1)) == 0,
              "positions wrap by masking");

// The buffer is a ring: a piece that runs past its end goes on at its
// start.
void ToRing(std::uint8_t* ring, std::uint64_t at, const void* bytes, std::size_t count) {
  const std::size_t offset = at & (PacketLogWriter::kBufferBytes - 1);
  const std::size_t first = std::min(count, PacketLogWriter::kBufferBytes - offset);
  std::memcpy(ring + offset, bytes, first);
  std::memcpy(ring, static_cast<const std::uint8_t*>(bytes) + first, count - first);
}

void FromRing(const std::uint8_t* ring, std::uint64_t at, void* bytes, std::size_t count) {
  const std::size_t offset = at & (PacketLogWriter::kBufferBytes - 1);
  const std::size_t first = std::min(count, PacketLogWriter::kBufferBytes - offset);
  std::memcpy(bytes, ring + offset, first);
  std::memcpy(static_cast<std::uint8_t*>(bytes) + first, ring, count - first);
}

void ReportWriteError(const PacketLogFile& file, int error) {
  platform::ShowUserMessage(
      platform::MessageKind::kWarning,
      {QUORVEL_TRANSLATE_NOOP("Core", "无法写入日志文件 \"%1\" !\r\nError message : %2\r\n监控继续进行, 但日志记录会丢失."),
       {file.Path(), std::strerror(error)}});
}

}  // namespace

class PacketLogWriter::ThreadEnd {
 public:
  void Signal() {
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds time) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, time, [this] { return m_ended; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_ended = false;
};

struct PacketLogWriter::Shared {
  Shared(std::unique_ptr<PacketLogFile> first, std::uint64_t limit, std::shared_ptr<Counter> lostCounter,
         std::shared_ptr<ThreadEnd> before)
      : file(std::move(first)),
        previous(std::move(before)),
        lost(std::move(lostCounter)),
        ring(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferBytes)),
        sizeLimit(limit) {}

  void Run();
  bool WaitForPrevious();
  void WriteUntilClosed();
  std::uint64_t Gather(std::uint64_t at, std::uint64_t end);
  bool WriteOut();
  bool ToldToStop() const;
  void Settle(std::uint64_t writtenNow, std::uint64_t droppedNow);
  void ReportOnce(int error);
  void ApplySwitches(std::uint64_t at);
  void CloseFiles();

  // The writer thread's alone.
  std::unique_ptr<PacketLogFile> file;
  RecordBatch batch{kBatchBytes};
  bool errorReported = false;  // for `file`: one message per file
  std::shared_ptr<ThreadEnd> previous;

  const std::shared_ptr<Counter> lost;
  const std::shared_ptr<ThreadEnd> end = std::make_shared<ThreadEnd>();
  std::unique_ptr<std::uint8_t[]> ring;
  // Each side's counters on cache lines of their own, so that the two
  // threads do not pass a line back and forth for every record.
  alignas(kCacheLine) std::atomic<std::uint64_t> published{0};  // bytes ever put in, whole records only
  alignas(kCacheLine) std::atomic<std::uint64_t> taken{0};       // bytes ever taken out into the batch
  std::atomic<std::uint64_t> progress{0};                         // writes that the file took
  std::atomic<bool> writerSleeping{false};
  alignas(kCacheLine) std::atomic<std::uint64_t> sizeLimit;
  std::atomic<std::uint64_t> nextSwitchAt{kNever};
  std::atomic<bool> stopping{false};   // finish the record begun, then end
  std::atomic<bool> abandoned{false};  // write nothing more; set under `mutex`

  std::mutex mutex;
  std::condition_variable wake;      // for the writer
  std::condition_variable finished;  // for Close
  // Under `mutex`: the files to switch to, each with the position of the
  // first record that goes to it.
  std::deque<std::pair<std::uint64_t, std::unique_ptr<PacketLogFile>>> switches;
  bool closing = false;
  bool done = false;
  // Under `mutex`, and no more once the writer was given up: the records
  // written whole, and those dropped for a write error.
  std::uint64_t writtenRecords = 0;
  std::uint64_t droppedRecords = 0;
};

PacketLogWriter::PacketLogWriter(std::unique_ptr<PacketLogFile> file, std::uint64_t sizeLimit,
                                 std::shared_ptr<Counter> lost, std::shared_ptr<ThreadEnd> previous)
    : m_shared(std::make_shared<Shared>(std::move(file), sizeLimit, std::move(lost), std::move(previous))) {
  std::thread([shared = m_shared] { shared->Run(); }).detach();
}

PacketLogWriter::~PacketLogWriter() { Close(); }

std::shared_ptr<PacketLogWriter::ThreadEnd> PacketLogWriter::End() const { return m_shared->end; }

// Room for `count` more bytes of the record; asks the writer's progress
// only when what was seen last leaves too little.
bool PacketLogWriter::Reserve(std::size_t count) {
  if (!m_recordFits) return false;
  if (m_cursor + count - m_takenSeen > kBufferBytes) {
    m_takenSeen = m_shared->taken.load(std::memory_order_acquire);
    m_recordFits = m_cursor + count - m_takenSeen <= kBufferBytes;
  }
  return m_recordFits;
}

void PacketLogWriter::BeginRecord() {
  // The buffer's lines were last in the writer's cache, or nowhere: asked
  // for now, they are ours by the time the records after this one come.
  for (std::size_t ahead = kPrefetchFrom; ahead < kPrefetchTo; ahead += kCacheLine)
    __builtin_prefetch(m_shared->ring.get() + ((m_published + ahead) & (kBufferBytes - 1)), 1);
  m_cursor = m_published;
  m_recordFits = true;
  if (Reserve(kLengthBytes)) m_cursor += kLengthBytes;
}

void PacketLogWriter::Append(const void* bytes, std::size_t count) {
  if (!Reserve(count)) return;
  ToRing(m_shared->ring.get(), m_cursor, bytes, count);
  m_cursor += count;
}

bool PacketLogWriter::EndRecord() {
  if (!m_recordFits || m_closed) {
    m_shared->lost->fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  const auto length = static_cast<std::uint32_t>(m_cursor - m_published - kLengthBytes);
  ToRing(m_shared->ring.get(), m_published, &length, kLengthBytes);
  m_published = m_cursor;
  ++m_publishedRecords;
  m_shared->published.store(m_published, std::memory_order_release);
  WakeWriterWhenDue();
  return true;
}

// A wake-up missed (the writer was about to sleep) costs a nap at most.
void PacketLogWriter::WakeWriterWhenDue() {
  if (m_published - m_takenSeen < kWakeBytes || !m_shared->writerSleeping.load(std::memory_order_relaxed)) return;
  m_takenSeen = m_shared->taken.load(std::memory_order_acquire);
  std::lock_guard lock(m_shared->mutex);
  m_shared->wake.notify_one();
}

void PacketLogWriter::SwitchTo(std::unique_ptr<PacketLogFile> file) {
  std::lock_guard lock(m_shared->mutex);
  m_shared->switches.emplace_back(m_published, std::move(file));
  m_shared->nextSwitchAt.store(m_shared->switches.front().first, std::memory_order_release);
  m_shared->wake.notify_one();
}

// Called for every record: only a change is stored, so that the line the
// writer reads is not dirtied each time.
void PacketLogWriter::SetSizeLimit(std::uint64_t bytes) {
  if (m_shared->sizeLimit.load(std::memory_order_relaxed) != bytes)
    m_shared->sizeLimit.store(bytes, std::memory_order_relaxed);
}

// What the writer had not written by the time it ended, or was given up,
// is lost: the records still in the ring or in its batch. The writer
// counts nothing once given up, so that no record counts twice.
void PacketLogWriter::Close() {
  if (m_closed) return;
  m_closed = true;
  Shared& shared = *m_shared;
  std::unique_lock lock(shared.mutex);
  shared.closing = true;
  shared.wake.notify_one();
  const Clock::time_point start = Clock::now();
  Clock::time_point lastProgress = start;
  std::uint64_t progressBefore = shared.progress.load();
  while (!shared.finished.wait_for(lock, kCloseCheck, [&] { return shared.done; })) {
    const Clock::time_point now = Clock::now();
    if (const std::uint64_t progress = shared.progress.load(); progress != progressBefore) {
      progressBefore = progress;
      lastProgress = now;
    }
    if (now - lastProgress >= std::chrono::milliseconds(kCloseStallMs) ||
        now - start >= std::chrono::milliseconds(kCloseLongestMs)) {
      shared.abandoned = true;
      break;
    }
    if (now - start >= std::chrono::milliseconds(kCloseLongestMs - kCloseLastRecordMs)) shared.stopping = true;
  }
  shared.lost->fetch_add(m_publishedRecords - shared.writtenRecords - shared.droppedRecords,
                         std::memory_order_relaxed);
}

void PacketLogWriter::Shared::Run() {
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kLogWriter);
  if (WaitForPrevious()) WriteUntilClosed();
  CloseFiles();
  {
    std::lock_guard lock(mutex);
    done = true;
    finished.notify_all();
  }
  end->Signal();
}

// A writer before this one that is stuck in the system may get on one day;
// the two never write at once.
bool PacketLogWriter::Shared::WaitForPrevious() {
  if (previous == nullptr) return true;
  while (!previous->WaitFor(std::chrono::milliseconds(kWaitSliceMs)))
    if (abandoned.load() || stopping.load()) return false;
  previous.reset();
  return true;
}

void PacketLogWriter::Shared::WriteUntilClosed() {
  std::uint64_t at = 0;
  for (;;) {
    at = Gather(at, published.load(std::memory_order_acquire));
    if (!WriteOut()) return;
    if (at >= nextSwitchAt.load(std::memory_order_acquire)) ApplySwitches(at);
    if (at != published.load(std::memory_order_acquire)) continue;
    std::unique_lock lock(mutex);
    if (closing && published.load() == at) return;
    writerSleeping.store(true, std::memory_order_relaxed);
    if (published.load(std::memory_order_acquire) == at && !closing) wake.wait_for(lock, kWriterNap);
    writerSleeping.store(false, std::memory_order_relaxed);
  }
}

// Takes whole records from the ring into the batch, up to `end`, the room
// in the batch, the next switch of files, or a record that starts the
// file afresh: the file restarts once the records before are written,
// never through its name, which may lead elsewhere by now.
std::uint64_t PacketLogWriter::Shared::Gather(std::uint64_t at, std::uint64_t end) {
  const std::uint64_t switchAt = nextSwitchAt.load(std::memory_order_acquire);
  while (at < end && at < switchAt) {
    std::uint32_t length = 0;
    FromRing(ring.get(), at, &length, kLengthBytes);
    if (file->Size() + batch.Pending() > sizeLimit.load(std::memory_order_relaxed)) {
      if (!batch.Empty()) break;
      file->Restart();
    }
    if (!batch.Fits(length)) break;
    FromRing(ring.get(), at + kLengthBytes, batch.Add(length), length);
    at += kLengthBytes + length;
    taken.store(at, std::memory_order_release);
  }
  return at;
}

// Writes the batch out, waiting for a file that takes nothing now (a FIFO
// whose reader is slow) as long as the writer is not given up. A write
// error costs the records not written whole, and the writing goes on with
// the next batch: a disk that was full may have room again. False when the
// writer is to end.
bool PacketLogWriter::Shared::WriteOut() {
  while (!batch.Empty() && !ToldToStop()) {
    const ssize_t completed = batch.WriteTo(*file);
    if (completed >= 0) {
      progress.fetch_add(1, std::memory_order_relaxed);
      Settle(static_cast<std::uint64_t>(completed), 0);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      file->WaitWritable(kWaitSliceMs);
    } else if (errno != EINTR) {
      const int error = errno;
      Settle(0, batch.Drop(*file));
      ReportOnce(error);
    }
  }
  return !ToldToStop();
}

bool PacketLogWriter::Shared::ToldToStop() const {
  return abandoned.load() || (stopping.load() && batch.BetweenRecords());
}

void PacketLogWriter::Shared::Settle(std::uint64_t writtenNow, std::uint64_t droppedNow) {
  std::lock_guard lock(mutex);
  if (abandoned) return;
  writtenRecords += writtenNow;
  droppedRecords += droppedNow;
  lost->fetch_add(droppedNow, std::memory_order_relaxed);
}

void PacketLogWriter::Shared::ReportOnce(int error) {
  if (errorReported || abandoned.load()) return;
  errorReported = true;
  ReportWriteError(*file, error);
}

// The files given up are closed after the lock is released: a close may
// take as long as the disk likes.
void PacketLogWriter::Shared::ApplySwitches(std::uint64_t at) {
  std::vector<std::unique_ptr<PacketLogFile>> previousFiles;
  {
    std::lock_guard lock(mutex);
    while (!switches.empty() && switches.front().first <= at) {
      previousFiles.push_back(std::exchange(file, std::move(switches.front().second)));
      switches.pop_front();
    }
    nextSwitchAt.store(switches.empty() ? kNever : switches.front().first, std::memory_order_release);
  }
  errorReported = false;
}

// Every descriptor goes with the thread, those switched to too late
// included: nothing of the writer is left open for anyone else to touch.
void PacketLogWriter::Shared::CloseFiles() {
  decltype(switches) unused;
  {
    std::lock_guard lock(mutex);
    unused.swap(switches);
  }
  file.reset();
}
