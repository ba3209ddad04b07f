#include "capture_helper/stream_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "capture_helper/helper_clock.h"

namespace {

// A record's header as the file format has it: 32-bit fields, ours in the
// byte order of the global header.
struct RecordHeader {
  std::uint32_t seconds;
  std::uint32_t microseconds;
  std::uint32_t capturedLength;
  std::uint32_t wireLength;
};

bool IsPipe(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

// Drops the first `bytes` of the pieces.
void Advance(iovec (&pieces)[2], int& count, std::size_t bytes) {
  int first = 0;
  while (first < count && bytes >= pieces[first].iov_len) bytes -= pieces[first++].iov_len;
  for (int i = first; i < count; ++i) pieces[i - first] = pieces[i];
  count -= first;
  if (count > 0) {
    pieces[0].iov_base = static_cast<char*>(pieces[0].iov_base) + bytes;
    pieces[0].iov_len -= bytes;
  }
}

}  // namespace

StreamWriter::StreamWriter(int fd, std::size_t ringBytes)
    : m_fd(fd),
      m_way(IsPipe(fd) ? Way::kLend : Way::kWithoutWaiting),
      m_ringBytes(ringBytes),
      m_bufferBytes(ringBytes / 4),
      m_room(ringBytes) {
  void* ring = mmap(nullptr, m_ringBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (ring == MAP_FAILED)
    m_failed = true;
  else
    m_ring = static_cast<unsigned char*>(ring);
}

StreamWriter::~StreamWriter() {
  if (m_ring != nullptr) munmap(m_ring, m_ringBytes);
}

// The library writes the global header (magic, version, snapshot length and
// the link type as files number it) to a stream in memory; it goes out as
// the first bytes of ours.
bool StreamWriter::Begin(pcap_t* handle) {
  if (m_failed) return false;
  char* header = nullptr;
  std::size_t size = 0;
  FILE* memory = open_memstream(&header, &size);
  if (memory == nullptr) return false;
  pcap_dumper_t* dumper = pcap_dump_fopen(handle, memory);
  if (dumper == nullptr) {
    fclose(memory);
    free(header);
    return false;
  }
  pcap_dump_close(dumper);  // closes the memory stream and sets header and size
  Append(header, size);
  free(header);
  m_headerBytes = m_gathered;
  return Flush();
}

void StreamWriter::OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame) {
  auto& self = *reinterpret_cast<StreamWriter*>(writer);
  if (self.HasRoomFor(header->caplen))
    self.Gather(*header, frame);
  else
    ++self.m_droppedFrames;
}

// A full buffer is written first, unless the descriptor just refused more.
bool StreamWriter::HasRoomFor(std::size_t capturedLength) {
  const std::size_t size = sizeof(RecordHeader) + capturedLength;
  if (m_failed || size > m_bufferBytes) return false;
  if (m_bufferBytes - Pending() < size && !m_blocked) Flush();
  return m_bufferBytes - Pending() >= size && MakeRoom(size);
}

void StreamWriter::Gather(const pcap_pkthdr& header, const u_char* frame) {
  const RecordHeader record = {static_cast<std::uint32_t>(header.ts.tv_sec),
                               static_cast<std::uint32_t>(header.ts.tv_usec), header.caplen, header.len};
  Append(&record, sizeof record);
  Append(frame, header.caplen);
  ++m_recordsGathered;
}

// The caller made room.
void StreamWriter::Append(const void* bytes, std::size_t size) {
  const std::size_t at = static_cast<std::size_t>(m_gathered % m_ringBytes);
  const std::size_t first = std::min(size, m_ringBytes - at);
  std::memcpy(m_ring + at, bytes, first);
  std::memcpy(m_ring, static_cast<const unsigned char*>(bytes) + first, size - first);
  m_gathered += size;
}

// The part of the ring about to be filled held bytes written a whole ring
// ago; the pipe may still hold them (lent, not copied) until the reader
// takes them. Then there is no room yet.
bool StreamWriter::MakeRoom(std::size_t size) {
  if (m_gathered + size <= m_room) return true;
  m_room = Taken() + m_ringBytes;
  return m_gathered + size <= m_room;
}

// How many bytes of the stream the reader has taken: all that were written,
// less what the pipe still holds.
std::uint64_t StreamWriter::Taken() const {
  int unread = 0;
  if (m_way != Way::kLend || ioctl(m_fd, FIONREAD, &unread) != 0 || unread < 0) return m_written;
  return m_written - std::min<std::uint64_t>(static_cast<std::uint64_t>(unread), m_written);
}

int StreamWriter::Pieces(iovec (&pieces)[2]) const {
  const std::size_t at = static_cast<std::size_t>(m_written % m_ringBytes);
  const std::size_t size = Pending();
  const std::size_t first = std::min(size, m_ringBytes - at);
  pieces[0] = {m_ring + at, first};
  pieces[1] = {m_ring, size - first};
  return size == first ? 1 : 2;
}

bool StreamWriter::Flush() {
  if (m_failed || Pending() == 0) return !m_failed;
  iovec pieces[2];
  int count = Pieces(pieces);
  m_blocked = false;
  while (count > 0) {
    const ssize_t written = WritePieces(pieces, count);
    if (written > 0) {
      Advance(pieces, count, static_cast<std::size_t>(written));
      m_written += static_cast<std::uint64_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      m_blocked = true;
      break;
    }
    m_failed = true;  // the reader has gone
    break;
  }
  CountWrittenRecords(false);
  return !m_failed;
}

// Whatever the descriptor takes without waiting. A pipe that turns out not
// to take lent pages, or a descriptor that cannot say it would wait (a
// regular file, whose writes wait for no reader), is written otherwise from
// then on.
ssize_t StreamWriter::WritePieces(iovec (&pieces)[2], int count) {
  for (;;) {
    ssize_t written = -1;
    switch (m_way) {
      case Way::kLend: written = vmsplice(m_fd, pieces, static_cast<unsigned long>(count), SPLICE_F_NONBLOCK); break;
      case Way::kWithoutWaiting: written = pwritev2(m_fd, pieces, count, -1, RWF_NOWAIT); break;
      case Way::kPlain: written = writev(m_fd, pieces, count); break;
    }
    if (written >= 0 || m_way == Way::kPlain) return written;
    if (m_way == Way::kLend && (errno == EINVAL || errno == EBADF || errno == ENOSYS))
      m_way = Way::kWithoutWaiting;
    else if (m_way == Way::kWithoutWaiting && (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS))
      m_way = Way::kPlain;
    else
      return written;
  }
}

bool StreamWriter::FlushAll(int waitMs) {
  const std::int64_t deadline = NowMs() + waitMs;
  while (Flush() && Pending() != 0) {
    const std::int64_t left = deadline - NowMs();
    pollfd output = {m_fd, POLLOUT, 0};
    if (left <= 0 || poll(&output, 1, static_cast<int>(left)) == 0) break;
    if ((output.revents & POLLERR) != 0) m_failed = true;
  }
  CountWrittenRecords(true);
  m_droppedFrames += m_recordsGathered - m_recordsWritten;
  m_recordsWritten = m_recordsGathered;
  m_written = m_unwrittenRecord = m_gathered;
  return !m_failed;
}

// Once everything is written, every record is. Otherwise the records
// written are walked, their sizes read in the ring, but only once they
// fill half of it: by then a later write that empties the buffer has
// mostly made the walk needless, and the ring still holds them all (no
// more than a quarter of it waits to be written).
void StreamWriter::CountWrittenRecords(bool now) {
  if (Pending() == 0) {
    m_unwrittenRecord = m_written;
    m_recordsWritten = m_recordsGathered;
    return;
  }
  if (!now && m_written - m_unwrittenRecord <= m_ringBytes / 2) return;
  std::size_t at = static_cast<std::size_t>(m_unwrittenRecord % m_ringBytes);
  for (;;) {
    const bool header = m_unwrittenRecord < m_headerBytes;
    const std::size_t size = header ? static_cast<std::size_t>(m_headerBytes - m_unwrittenRecord) : RecordSizeAt(at);
    if (m_unwrittenRecord + size > m_written) return;
    if (!header) ++m_recordsWritten;
    m_unwrittenRecord += size;
    at += size;
    if (at >= m_ringBytes) at -= m_ringBytes;
  }
}

// The size of the record whose header starts at `at` in the ring.
std::size_t StreamWriter::RecordSizeAt(std::size_t at) const {
  std::size_t field = at + offsetof(RecordHeader, capturedLength);
  if (field >= m_ringBytes) field -= m_ringBytes;
  std::uint32_t capturedLength = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&capturedLength);
  if (field + sizeof capturedLength <= m_ringBytes) {
    std::memcpy(bytes, m_ring + field, sizeof capturedLength);
  } else {
    for (std::size_t i = 0; i < sizeof capturedLength; ++i) bytes[i] = m_ring[(field + i) % m_ringBytes];
  }
  return sizeof(RecordHeader) + capturedLength;
}
