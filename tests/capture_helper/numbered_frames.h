#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <vector>

// Frame `n` of a test: its length and every byte depend on n, so that a
// frame overwritten by a later one shows.
inline std::vector<std::uint8_t> NumberedFrameBytes(std::uint32_t n) {
  std::vector<std::uint8_t> frame(1 + n * 37 % 2000);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(n * 7 + i);
  return frame;
}

// Hands frame `n` to a capture handler, stamped with n seconds and a wire
// length 4 bytes longer than its captured one.
inline void OfferNumberedFrame(pcap_handler handler, u_char* argument, std::uint32_t n) {
  const std::vector<std::uint8_t> frame = NumberedFrameBytes(n);
  pcap_pkthdr header{};
  header.ts.tv_sec = n;
  header.caplen = static_cast<bpf_u_int32>(frame.size());
  header.len = header.caplen + 4;
  handler(argument, &header, frame.data());
}
