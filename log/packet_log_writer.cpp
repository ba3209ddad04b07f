#include "log/packet_log_writer.h"

#include <algorithm>
#include <atomic>
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

struct PacketLogWriter::Shared {
  Shared(std::unique_ptr<PacketLogFile> first, std::uint64_t limit)
      : file(std::move(first)), ring(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferBytes)), sizeLimit(limit) {}

  void Run();
  std::uint64_t WriteRecord(std::uint64_t at);
  void CopyOut(std::uint64_t at, std::size_t count);
  void ApplySwitches(std::uint64_t at);
  void Finish(std::unique_ptr<PacketLogFile> done);

  // The writer thread's alone.
  std::unique_ptr<PacketLogFile> file;
  bool errorReported = false;  // for `file`: one message per file

  std::unique_ptr<std::uint8_t[]> ring;
  // Each side's counters on cache lines of their own, so that the two
  // threads do not pass a line back and forth for every record.
  alignas(kCacheLine) std::atomic<std::uint64_t> published{0};  // bytes ever put in, whole records only
  alignas(kCacheLine) std::atomic<std::uint64_t> written{0};     // bytes ever taken out
  std::atomic<std::uint64_t> writtenRecords{0};
  std::atomic<bool> writerSleeping{false};
  alignas(kCacheLine) std::atomic<std::uint64_t> sizeLimit;
  std::atomic<std::uint64_t> nextSwitchAt{kNever};
  std::atomic<bool> abandoned{false};

  std::mutex mutex;
  std::condition_variable wake;      // for the writer
  std::condition_variable finished;  // for Close
  // Under `mutex`: the files to switch to, each with the position of the
  // first record that goes to it.
  std::deque<std::pair<std::uint64_t, std::unique_ptr<PacketLogFile>>> switches;
  bool closing = false;
  bool done = false;
};

PacketLogWriter::PacketLogWriter(std::unique_ptr<PacketLogFile> file, std::uint64_t sizeLimit)
    : m_shared(std::make_shared<Shared>(std::move(file), sizeLimit)) {
  std::thread([shared = m_shared] { shared->Run(); }).detach();
}

PacketLogWriter::~PacketLogWriter() { Close(); }

// Room for `count` more bytes of the record; asks the writer's progress
// only when what was seen last leaves too little.
bool PacketLogWriter::Reserve(std::size_t count) {
  if (!m_recordFits) return false;
  if (m_cursor + count - m_writtenSeen > kBufferBytes) {
    m_writtenSeen = m_shared->written.load(std::memory_order_acquire);
    m_recordFits = m_cursor + count - m_writtenSeen <= kBufferBytes;
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
  if (!m_recordFits || m_closed) return false;
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
  if (m_published - m_writtenSeen < kWakeBytes || !m_shared->writerSleeping.load(std::memory_order_relaxed)) return;
  m_writtenSeen = m_shared->written.load(std::memory_order_acquire);
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

std::uint64_t PacketLogWriter::Close() {
  if (m_closed) return 0;
  m_closed = true;
  Shared& shared = *m_shared;
  std::unique_lock lock(shared.mutex);
  shared.closing = true;
  shared.wake.notify_one();
  const Clock::time_point start = Clock::now();
  Clock::time_point lastProgress = start;
  std::uint64_t writtenBefore = shared.written.load();
  while (!shared.finished.wait_for(lock, kCloseCheck, [&] { return shared.done; })) {
    const Clock::time_point now = Clock::now();
    if (const std::uint64_t written = shared.written.load(); written != writtenBefore) {
      writtenBefore = written;
      lastProgress = now;
    }
    if (now - lastProgress >= std::chrono::milliseconds(kCloseStallMs) ||
        now - start >= std::chrono::milliseconds(kCloseLongestMs)) {
      shared.abandoned = true;
      return m_publishedRecords - shared.writtenRecords.load(std::memory_order_relaxed);
    }
  }
  return 0;
}

void PacketLogWriter::Shared::Run() {
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kLogWriter);
  std::uint64_t at = 0, records = 0;
  for (;;) {
    const std::uint64_t end = published.load(std::memory_order_acquire);
    while (at < end && !abandoned.load(std::memory_order_relaxed)) {
      if (at >= nextSwitchAt.load(std::memory_order_acquire)) ApplySwitches(at);
      at = WriteRecord(at);
      written.store(at, std::memory_order_release);
      writtenRecords.store(++records, std::memory_order_relaxed);
    }
    if (at >= nextSwitchAt.load(std::memory_order_acquire)) ApplySwitches(at);
    std::unique_lock lock(mutex);
    if (abandoned || (closing && published.load() == at)) break;
    writerSleeping.store(true, std::memory_order_relaxed);
    if (published.load(std::memory_order_acquire) == at && !closing) wake.wait_for(lock, kWriterNap);
    writerSleeping.store(false, std::memory_order_relaxed);
  }
  Finish(std::move(file));
  std::lock_guard lock(mutex);
  done = true;
  finished.notify_all();
}

std::uint64_t PacketLogWriter::Shared::WriteRecord(std::uint64_t at) {
  std::uint32_t length = 0;
  FromRing(ring.get(), at, &length, kLengthBytes);
  at += kLengthBytes;
  // The file restarts empty; never through its name, which may lead
  // elsewhere by now.
  if (file->Size() > sizeLimit.load(std::memory_order_relaxed)) file->Restart();
  CopyOut(at, length);
  return at + length;
}

void PacketLogWriter::Shared::CopyOut(std::uint64_t at, std::size_t count) {
  const std::size_t offset = at & (kBufferBytes - 1);
  const std::size_t first = std::min(count, kBufferBytes - offset);
  bool written = file->Write(ring.get() + offset, first);
  if (first < count) written = file->Write(ring.get(), count - first) && written;
  if (written || errorReported) return;
  errorReported = true;
  ReportWriteError(*file, errno);
  file->ClearError();
}

// The files given up are closed after the lock is released: closing
// flushes, which may take as long as the disk likes.
void PacketLogWriter::Shared::ApplySwitches(std::uint64_t at) {
  std::vector<std::unique_ptr<PacketLogFile>> previous;
  {
    std::lock_guard lock(mutex);
    while (!switches.empty() && switches.front().first <= at) {
      previous.push_back(std::exchange(file, std::move(switches.front().second)));
      switches.pop_front();
    }
    nextSwitchAt.store(switches.empty() ? kNever : switches.front().first, std::memory_order_release);
  }
  for (auto& done : previous) Finish(std::move(done));
  errorReported = false;
}

void PacketLogWriter::Shared::Finish(std::unique_ptr<PacketLogFile> done) {
  if (done == nullptr) return;
  if (!done->Flush() && !errorReported && !abandoned) ReportWriteError(*done, errno);
  errorReported = false;
}
