#pragma once

#include <pcap/dlt.h>

#include <cstdint>
#include <vector>

// Wraps a network-layer packet in the link header of a capture library
// link type, as an adapter of that type would hand it over.
inline std::vector<std::uint8_t> LinkFrame(int linkType, const std::vector<std::uint8_t>& packet,
                                           std::uint16_t etherType = 0x0800, int vlanTags = 0) {
  std::vector<std::uint8_t> frame;
  auto put16 = [&frame](std::uint16_t value) {
    frame.push_back(static_cast<std::uint8_t>(value >> 8));
    frame.push_back(static_cast<std::uint8_t>(value));
  };
  switch (linkType) {
    case DLT_EN10MB:
      frame.assign(12, 0x02);  // two MAC addresses
      for (int tag = 0; tag < vlanTags; ++tag) {
        put16(tag == 0 && vlanTags > 1 ? 0x88A8 : 0x8100);
        put16(static_cast<std::uint16_t>(100 + tag));
      }
      put16(etherType);
      break;
    case DLT_IEEE802:
      frame.assign(22, 0xAA);
      break;
    case DLT_LINUX_SLL:
      frame.assign(14, 0);
      put16(etherType);
      break;
    case DLT_LINUX_SLL2:
      put16(etherType);
      frame.resize(20, 0);
      break;
    case DLT_NULL:
      frame = {2, 0, 0, 0};  // AF_INET in the capturing host's order
      break;
    case DLT_LOOP:
      frame = {0, 0, 0, 2};
      break;
    default:  // raw IP: no link header at all
      break;
  }
  frame.insert(frame.end(), packet.begin(), packet.end());
  return frame;
}
