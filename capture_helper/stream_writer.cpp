#include "capture_helper/stream_writer.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

}  // namespace

StreamWriter::StreamWriter(int fd) : m_fd(fd), m_buffer(new char[kBufferBytes]) {}

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
  if (kBufferBytes - self.m_used < sizeof record + header->caplen) self.Flush();
  self.Append(&record, sizeof record);
  self.Append(frame, header->caplen);
}

void StreamWriter::Append(const void* bytes, std::size_t size) {
  if (m_failed || size > kBufferBytes - m_used) return;
  std::memcpy(m_buffer.get() + m_used, bytes, size);
  m_used += size;
}

bool StreamWriter::Flush() {
  std::size_t written = 0;
  while (!m_failed && written < m_used) {
    const ssize_t count = write(m_fd, m_buffer.get() + written, m_used - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) m_failed = true;
    else written += static_cast<std::size_t>(count);
  }
  m_used = 0;
  return !m_failed;
}
