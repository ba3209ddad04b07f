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
#include <cstring>

namespace {

// A record's header as the file format has it: 32-bit fields, ours in the
// byte order of the global header.
struct RecordHeader {
  std::uint32_t seconds;
  std::uint32_t microseconds;
  std::uint32_t capturedLength;
  std::uint32_t wireLength;
};

constexpr int kReaderWaitMs = 1;

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
    : m_fd(fd), m_lending(IsPipe(fd)), m_ringBytes(ringBytes), m_bufferBytes(ringBytes / 4), m_room(ringBytes) {
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
  return Flush();
}

void StreamWriter::OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame) {
  auto& self = *reinterpret_cast<StreamWriter*>(writer);
  const RecordHeader record = {static_cast<std::uint32_t>(header->ts.tv_sec),
                               static_cast<std::uint32_t>(header->ts.tv_usec), header->caplen, header->len};
  if (self.m_bufferBytes - self.Pending() < sizeof record + header->caplen) self.Flush();
  self.Append(&record, sizeof record);
  self.Append(frame, header->caplen);
}

void StreamWriter::Append(const void* bytes, std::size_t size) {
  if (m_failed || size > m_bufferBytes - Pending() || !MakeRoom(size)) return;
  const std::size_t at = static_cast<std::size_t>(m_gathered % m_ringBytes);
  const std::size_t first = std::min(size, m_ringBytes - at);
  std::memcpy(m_ring + at, bytes, first);
  std::memcpy(m_ring, static_cast<const unsigned char*>(bytes) + first, size - first);
  m_gathered += size;
}

// The part of the ring about to be filled held bytes written a whole ring
// ago; the pipe may still hold them (lent, not copied) until the reader
// takes them.
bool StreamWriter::MakeRoom(std::size_t size) {
  while (m_gathered + size > m_room) {
    m_room = Taken() + m_ringBytes;
    if (m_gathered + size <= m_room) break;
    if (!WaitForReader()) {
      m_failed = true;
      return false;
    }
  }
  return true;
}

// How many bytes of the stream the reader has taken: all that were written,
// less what the pipe still holds.
std::uint64_t StreamWriter::Taken() const {
  int unread = 0;
  if (!m_lending || ioctl(m_fd, FIONREAD, &unread) != 0 || unread < 0) return m_written;
  return m_written - std::min<std::uint64_t>(static_cast<std::uint64_t>(unread), m_written);
}

// A moment, or less when the reader has gone (then false). The pipe may
// have room while it still holds what is to be overwritten, so room is not
// waited for.
bool StreamWriter::WaitForReader() const {
  pollfd output = {m_fd, 0, 0};
  return poll(&output, 1, kReaderWaitMs) >= 0 && (output.revents & (POLLERR | POLLHUP)) == 0;
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
  const int count = Pieces(pieces);
  if (!(m_lending ? Lend(pieces, count) : Copy(pieces, count))) m_failed = true;
  m_written = m_gathered;
  return !m_failed;
}

// A descriptor that turns out not to take lent pages gets copies from then
// on.
bool StreamWriter::Lend(iovec (&pieces)[2], int count) {
  while (count > 0) {
    const ssize_t lent = vmsplice(m_fd, pieces, static_cast<unsigned long>(count), 0);
    if (lent > 0) {
      Advance(pieces, count, static_cast<std::size_t>(lent));
      continue;
    }
    if (lent < 0 && errno == EINTR) continue;
    if (lent < 0 && (errno == EINVAL || errno == EBADF || errno == ENOSYS)) {
      m_lending = false;
      return Copy(pieces, count);
    }
    return false;
  }
  return true;
}

bool StreamWriter::Copy(iovec (&pieces)[2], int count) {
  while (count > 0) {
    const ssize_t written = writev(m_fd, pieces, count);
    if (written > 0) {
      Advance(pieces, count, static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}
