#include "source/frame_ring_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace fr = frame_ring;

namespace {

std::uint64_t LoadHead(const unsigned char* producer) {
  auto* page = reinterpret_cast<fr::ProducerPage*>(const_cast<unsigned char*>(producer));
  return fr::Shared(page->head).load(std::memory_order_acquire);
}

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

FrameRingReader::~FrameRingReader() {
  CloseFd();
  if (m_producer != nullptr) munmap(const_cast<unsigned char*>(m_producer), fr::kPageBytes + m_ringBytes);
  if (m_consumer != nullptr) munmap(m_consumer, fr::kPageBytes);
}

bool FrameRingReader::Create(std::string& error, std::size_t ringBytes) {
  if (!fr::ValidRingBytes(ringBytes)) {
    error = "invalid frame ring size";
    return false;
  }
  m_fd = memfd_create("quorvel-frames", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (m_fd < 0) {
    error = SystemError("cannot make the frame ring");
    return false;
  }
  void* producer = MAP_FAILED;
  void* consumer = MAP_FAILED;
  if (ftruncate(m_fd, static_cast<off_t>(fr::FileBytes(ringBytes))) != 0 ||
      fcntl(m_fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0 ||
      (producer = mmap(nullptr, fr::kPageBytes + ringBytes, PROT_READ, MAP_SHARED, m_fd, 0)) == MAP_FAILED ||
      (consumer = mmap(nullptr, fr::kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd,
                       static_cast<off_t>(fr::ConsumerOffset(ringBytes)))) == MAP_FAILED) {
    error = SystemError("cannot make the frame ring");
    if (producer != MAP_FAILED) munmap(producer, fr::kPageBytes + ringBytes);
    CloseFd();
    return false;
  }
  m_ringBytes = ringBytes;
  m_producer = static_cast<const unsigned char*>(producer);
  m_consumer = static_cast<fr::ConsumerPage*>(consumer);
  m_ring = m_producer + fr::RingOffset();
  return true;
}

void FrameRingReader::CloseFd() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

FrameRingReader::Next FrameRingReader::Fail(std::string reason) {
  m_error = std::move(reason);
  return Next::kBad;
}

// The helper writes its page before it reports the open.
FrameRingReader::Next FrameRingReader::ReadHeader() {
  if (Bad()) return Next::kBad;
  if (m_headerRead) return Next::kNeedBytes;
  if (m_producer == nullptr) return Fail("no frame ring");
  fr::ProducerPage page;
  std::memcpy(&page, m_producer, sizeof page);
  if (page.magic != fr::kMagic || page.version != fr::kVersion || page.ringBytes != m_ringBytes)
    return Fail("quorvel-capture did not set up the frame ring");
  if (page.snapLength == 0 || page.snapLength > SavefileStreamReader::kMaxCaptureLength)
    return Fail("the frame ring has an invalid snapshot length");
  m_snapLength = page.snapLength;
  m_linkType = page.linkType;
  m_headerRead = true;
  return Next::kNeedBytes;
}

// The head the helper published, if it lies where it can: ahead of what
// was read, and no more than a ring ahead of what was released.
bool FrameRingReader::Fetched() {
  const std::uint64_t head = LoadHead(m_producer);
  const std::uint64_t released = m_consumer->tail;
  if (head < m_read || head - released > m_ringBytes) {
    Fail("the frame ring's head lies outside the ring");
    return false;
  }
  m_head = head;
  return true;
}

FrameRingReader::Next FrameRingReader::Read(Record& record) {
  if (!m_headerRead || Bad()) return Bad() ? Next::kBad : Next::kNeedBytes;
  for (;;) {
    if (m_read == m_head) {
      if (!Fetched()) return Next::kBad;
      if (m_read == m_head) return Next::kNeedBytes;
    }
    const std::size_t at = static_cast<std::size_t>(m_read % m_ringBytes);
    const std::size_t left = m_ringBytes - at;
    fr::RecordHeader header{};
    if (left >= sizeof header) std::memcpy(&header, m_ring + at, sizeof header);
    if (left < sizeof header || header.capturedLength == fr::kWrapMark) {
      if (m_head - m_read < left) return Fail("the frame ring's head lies inside a skipped end");
      m_read += left;
      continue;
    }
    if (header.capturedLength > m_snapLength)
      return Fail("a record of " + std::to_string(header.capturedLength) + " captured bytes exceeds the snapshot length of " +
                  std::to_string(m_snapLength));
    const std::size_t bytes = fr::RecordBytes(header.capturedLength);
    if (bytes > left || m_head - m_read < bytes) return Fail("a record of the frame ring crosses its end");
    record.seconds = header.seconds;
    record.microseconds = header.microseconds;
    record.capturedLength = header.capturedLength;
    record.wireLength = header.wireLength;
    record.data = m_ring + at + sizeof header;
    m_read += bytes;
    return Next::kRecord;
  }
}

void FrameRingReader::Release() {
  if (m_consumer == nullptr || m_consumer->tail == m_read) return;
  fr::Shared(m_consumer->tail).store(m_read, std::memory_order_release);
}

// Says it sleeps, then looks at the head once more: the helper publishes,
// then looks whether the reader sleeps; one of the two sees the other.
bool FrameRingReader::Sleep() {
  if (!m_headerRead || Bad()) return true;
  if (m_read != m_head) return false;
  fr::Shared(m_consumer->sleeping).store(1, std::memory_order_relaxed);
  m_sleeping = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (LoadHead(m_producer) == m_read) return true;
  Awake();
  return false;
}

void FrameRingReader::Awake() {
  if (!m_sleeping) return;
  fr::Shared(m_consumer->sleeping).store(0, std::memory_order_relaxed);
  m_sleeping = false;
}
