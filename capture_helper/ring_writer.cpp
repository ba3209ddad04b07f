#include "capture_helper/ring_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace fr = frame_ring;

RingWriter::RingWriter(int ringFd, int doorbellFd) : m_ringFd(ringFd), m_doorbellFd(doorbellFd) {}

RingWriter::~RingWriter() {
  if (m_producer != nullptr) munmap(m_producer, fr::kPageBytes + m_ringBytes);
  if (m_consumer != nullptr) munmap(m_consumer, fr::kPageBytes);
}

// A file that could shrink under the mapping would make a write fault; one
// that is not a memory file cannot be sealed at all.
bool RingWriter::Attach(std::string& error) {
  const int seals = fcntl(m_ringFd, F_GET_SEALS);
  if (seals < 0) {
    error = "the frame ring is not a memory file";
    return false;
  }
  if ((seals & F_SEAL_SHRINK) == 0 && fcntl(m_ringFd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW) != 0) {
    error = "the frame ring cannot be sealed against shrinking";
    return false;
  }
  struct stat status {};
  if (fstat(m_ringFd, &status) != 0 || status.st_size < static_cast<off_t>(fr::FileBytes(0)) ||
      !fr::ValidRingBytes(static_cast<std::size_t>(status.st_size) - fr::FileBytes(0))) {
    error = "the frame ring has no size the helper accepts";
    return false;
  }
  const std::size_t ringBytes = static_cast<std::size_t>(status.st_size) - fr::FileBytes(0);
  // The doorbell never holds the capture up: a full one wakes the reader.
  fcntl(m_doorbellFd, F_SETFL, fcntl(m_doorbellFd, F_GETFL) | O_NONBLOCK);
  void* producer = mmap(nullptr, fr::kPageBytes + ringBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_ringFd, 0);
  void* consumer = mmap(nullptr, fr::kPageBytes, PROT_READ, MAP_SHARED, m_ringFd,
                        static_cast<off_t>(fr::ConsumerOffset(ringBytes)));
  if (producer == MAP_FAILED || consumer == MAP_FAILED) {
    error = std::string("cannot map the frame ring: ") + std::strerror(errno);
    if (producer != MAP_FAILED) munmap(producer, fr::kPageBytes + ringBytes);
    if (consumer != MAP_FAILED) munmap(consumer, fr::kPageBytes);
    return false;
  }
  close(m_ringFd);  // the mappings stay
  m_ringFd = -1;
  m_producer = static_cast<unsigned char*>(producer);
  m_consumer = static_cast<fr::ConsumerPage*>(consumer);
  m_ringBytes = ringBytes;
  m_ring = m_producer + fr::RingOffset();
  return true;
}

void RingWriter::Begin(pcap_t* handle) {
  auto* page = reinterpret_cast<fr::ProducerPage*>(m_producer);
  page->version = fr::kVersion;
  page->ringBytes = m_ringBytes;
  page->linkType = pcap_datalink(handle);
  page->snapLength = static_cast<std::uint32_t>(pcap_snapshot(handle));
  fr::Shared(page->head).store(0, std::memory_order_release);
  fr::Shared(page->magic).store(fr::kMagic, std::memory_order_release);
}

void RingWriter::OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame) {
  auto& self = *reinterpret_cast<RingWriter*>(writer);
  const std::size_t bytes = fr::RecordBytes(header->caplen);
  if (self.MakeRoom(bytes))
    self.Write(*header, frame, bytes);
  else
    ++self.m_droppedFrames;
}

// Where the record would cross the ring's end, it starts at the ring's
// start, and the rest of the ring is skipped: that needs room too.
//
// The first record after a publish starts at the ring's start again when
// the reader has taken everything and the writing has gone a little way
// into the ring: a reader that keeps up then reads from the same few pages
// again and again, which stay mapped and in the cache, instead of records
// spread over the whole ring. Until the reader has passed the mark that
// sends it back, what lies before the mark is all the room there is.
bool RingWriter::MakeRoom(std::size_t bytes) {
  if (m_failed || m_ring == nullptr || bytes > m_ringBytes / 2) return false;
  const std::size_t at = static_cast<std::size_t>(m_head % m_ringBytes);
  // A record is at most half the ring, and so ends before the mark.
  const bool rewind = m_firstSincePublish && at >= RewindBytes() && (m_tail = ReaderTail()) == m_head;
  m_firstSincePublish = false;
  const std::size_t skipped = rewind || m_ringBytes - at < bytes ? m_ringBytes - at : 0;
  const std::uint64_t end = m_head + skipped + bytes;
  if (end - m_tail > m_ringBytes) m_tail = ReaderTail();
  if (end - m_tail > m_ringBytes) return false;
  if (skipped >= sizeof(fr::RecordHeader)) {
    fr::RecordHeader mark{};
    mark.capturedLength = fr::kWrapMark;
    std::memcpy(m_ring + at, &mark, sizeof mark);
  }
  m_head += skipped;
  return true;
}

// The reader's tail, unless it lies outside what it may have read.
std::uint64_t RingWriter::ReaderTail() const {
  const std::uint64_t tail = fr::Shared(m_consumer->tail).load(std::memory_order_acquire);
  return tail >= m_tail && tail <= m_published ? tail : m_tail;
}

std::size_t RingWriter::RewindBytes() const { return std::min(kRewindBytes, m_ringBytes / 2); }

void RingWriter::Write(const pcap_pkthdr& header, const u_char* frame, std::size_t bytes) {
  unsigned char* at = m_ring + m_head % m_ringBytes;
  const fr::RecordHeader record = {static_cast<std::uint32_t>(header.ts.tv_sec),
                                   static_cast<std::uint32_t>(header.ts.tv_usec), header.caplen, header.len};
  std::memcpy(at, &record, sizeof record);
  std::memcpy(at + sizeof record, frame, header.caplen);
  m_head += bytes;
}

void RingWriter::Publish() {
  m_firstSincePublish = true;
  if (m_published == m_head || m_producer == nullptr) return;
  fr::Shared(reinterpret_cast<fr::ProducerPage*>(m_producer)->head).store(m_head, std::memory_order_release);
  m_published = m_head;
}

// The reader says it sleeps, then looks at the head once more; the head is
// published, then the reader looked at: one of the two sees the other.
bool RingWriter::Flush() {
  HandOver();
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (m_consumer != nullptr &&
      fr::Shared(m_consumer->sleeping).load(std::memory_order_relaxed) != 0)
    return Ring();
  return !m_failed;
}

bool RingWriter::FlushAll(int /*waitMs*/) {
  HandOver();
  return Ring();
}

void RingWriter::HandOver() {
  Publish();
  m_flushedHead = m_head;
}

// A full doorbell already wakes the reader.
bool RingWriter::Ring() {
  const char bell = 0;
  while (!m_failed && write(m_doorbellFd, &bell, 1) < 0) {
    if (errno == EINTR) continue;
    if (errno != EAGAIN) m_failed = true;  // the reader has gone
    break;
  }
  return !m_failed;
}
