#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>

#include "source/frame_source.h"

// The frames of a capture file, read here, as fast as they can be read,
// through the capture library's reader (any format it reads).
class FileFrameSource : public FrameSource {
 public:
  // How the reading of the file went: the records read, and the library's
  // message when a read failed or the file was cut short (empty when it
  // was read to its end).
  struct Result {
    std::uint64_t records = 0;
    std::string error;
  };

  FileFrameSource() = default;
  ~FileFrameSource() override;
  FileFrameSource(const FileFrameSource&) = delete;
  FileFrameSource& operator=(const FileFrameSource&) = delete;

  // Opens the file at `path`; only the frames that `filter` accepts are
  // read (empty: every frame). 0 when it is open; 1 with the library's
  // message in `error`.
  int Open(const char* path, const std::string& filter, std::string& error);

  int LinkType() const override { return m_linkType; }
  // A read error ends the file at once: a damaged file answers every
  // further read with another error, or with garbage read as records.
  int ReadFrames(FrameSink& sink, int limit) override;
  void WaitForFrames(int, int) override {}

  // Valid once ReadFrames returned kEnded.
  const Result& ReadResult() const { return m_result; }

 private:
  struct Reading;
  static void OnRecord(u_char* reading, const pcap_pkthdr* header, const u_char* frame);

  pcap_t* m_handle = nullptr;
  int m_linkType = -1;
  Result m_result;
};
