#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

// Writes a capture file of the link type given, frame by frame, through the
// capture library itself, so that reading it back exercises the same code
// as reading any other capture file.
class PcapWriter {
 public:
  PcapWriter(const std::string& path, int linkType, int snapLength = 262144)
      : m_dead(pcap_open_dead(linkType, snapLength)), m_dumper(pcap_dump_open(m_dead, path.c_str())) {}
  ~PcapWriter() { Close(); }
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  bool IsOpen() const { return m_dumper != nullptr; }

  // `wireLength` 0 means the frame was captured whole.
  void Write(const std::vector<std::uint8_t>& frame, std::uint32_t wireLength = 0) {
    Write(frame.data(), frame.size(), wireLength);
  }
  void Write(const std::uint8_t* frame, std::size_t size, std::uint32_t wireLength = 0) {
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(m_count / 1000);
    header.ts.tv_usec = static_cast<suseconds_t>(m_count % 1000 * 1000);
    header.caplen = static_cast<bpf_u_int32>(size);
    header.len = wireLength != 0 ? wireLength : static_cast<bpf_u_int32>(size);
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &header, frame);
    ++m_count;
  }

  // Hands what was written to the file now (to a reader of a pipe, say).
  void Flush() {
    if (m_dumper != nullptr) pcap_dump_flush(m_dumper);
  }

  void Close() {
    if (m_dumper != nullptr) pcap_dump_close(m_dumper);
    if (m_dead != nullptr) pcap_close(m_dead);
    m_dumper = nullptr;
    m_dead = nullptr;
  }

 private:
  pcap_t* m_dead;
  pcap_dumper_t* m_dumper;
  std::uint64_t m_count = 0;
};
