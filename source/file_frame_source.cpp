#include "source/file_frame_source.h"

#include <sys/stat.h>

#include <cstdio>

namespace {

// Before the thread starts: no other thread reads the file yet.
int SetFileFilter(pcap_t* handle, const std::string& filter, std::string& error) {
  bpf_program program{};
  if (pcap_compile(handle, &program, filter.c_str(), 0, PCAP_NETMASK_UNKNOWN) == -1) {
    error = pcap_geterr(handle);
    return 1;
  }
  const int result = pcap_setfilter(handle, &program);
  if (result != 0) error = pcap_geterr(handle);
  pcap_freecode(&program);
  return result != 0 ? 1 : 0;
}

// The library's kind of message for a capture file whose bytes stop before
// the reader reached its end; empty when it was read to the end (or is no
// regular file, whose end cannot be known).
std::string UnreadTail(std::FILE* file) {
  struct stat status {};
  if (file == nullptr || fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  const long position = std::ftell(file);
  if (position < 0 || position >= status.st_size) return {};
  return "truncated dump file; " + std::to_string(status.st_size - position) + " bytes after the last whole record";
}

}  // namespace

struct FileFrameSource::Reading {
  FrameSink& sink;
  std::uint64_t& records;
};

FileFrameSource::~FileFrameSource() {
  if (m_handle != nullptr) pcap_close(m_handle);
}

int FileFrameSource::Open(const char* path, const std::string& filter, std::string& error) {
  char errorText[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_open_offline(path, errorText);
  if (handle == nullptr) {
    error = errorText;
    return 1;
  }
  if (!filter.empty() && SetFileFilter(handle, filter, error) != 0) {
    pcap_close(handle);
    return 1;
  }
  m_handle = handle;
  m_linkType = pcap_datalink(handle);
  m_result = Result();
  return 0;
}

// A file that ends inside a record header may read as a plain end; its
// length tells it from a whole file.
int FileFrameSource::ReadFrames(FrameSink& sink, int limit) {
  Reading reading{sink, m_result.records};
  const int read = pcap_dispatch(m_handle, limit, &FileFrameSource::OnRecord, reinterpret_cast<u_char*>(&reading));
  if (read == PCAP_ERROR) {
    m_result.error = pcap_geterr(m_handle);
    return kEnded;
  }
  // Nothing read from a file is its end.
  if (read == 0 || read == PCAP_ERROR_BREAK) {
    m_result.error = UnreadTail(pcap_file(m_handle));
    return kEnded;
  }
  return read;
}

void FileFrameSource::OnRecord(u_char* reading, const pcap_pkthdr* header, const u_char* frame) {
  auto& into = *reinterpret_cast<Reading*>(reading);
  ++into.records;
  into.sink.TakeFrame(*header, frame);
}
