#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <vector>

// An IPv4 packet as the capture hands it over, built field by field.
// Addresses are given in host order ("10.0.0.1" as 0x0A000001) and stored
// in network order, as on the wire.
struct IpPacket {
  std::uint32_t source = 0x0A000001;
  std::uint32_t destination = 0x0A000002;
  std::uint16_t sourcePort = 1024;
  std::uint16_t destinationPort = 80;
  std::uint8_t protocol = 6;
  std::uint16_t totalLength = 100;
  std::uint8_t headerWords = 5;  // 6 and more: options, zeros
  std::uint16_t id = 0;
  std::uint16_t fragmentOffset = 0;  // in 8-byte units
  bool moreFragments = false;

  std::vector<std::uint8_t> Bytes() const {
    const std::size_t header = headerWords * 4u;
    std::vector<std::uint8_t> bytes(totalLength < header + 4 ? header + 4 : totalLength, 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | headerWords);
    bytes[2] = static_cast<std::uint8_t>(totalLength >> 8);
    bytes[3] = static_cast<std::uint8_t>(totalLength);
    bytes[4] = static_cast<std::uint8_t>(id >> 8);
    bytes[5] = static_cast<std::uint8_t>(id);
    const std::uint16_t fragment = static_cast<std::uint16_t>((moreFragments ? 0x2000 : 0) | fragmentOffset);
    bytes[6] = static_cast<std::uint8_t>(fragment >> 8);
    bytes[7] = static_cast<std::uint8_t>(fragment);
    bytes[8] = 64;
    bytes[9] = protocol;
    const std::uint32_t src = htonl(source), dst = htonl(destination);
    const std::uint16_t sport = htons(sourcePort), dport = htons(destinationPort);
    std::memcpy(&bytes[12], &src, 4);
    std::memcpy(&bytes[16], &dst, 4);
    std::memcpy(&bytes[header], &sport, 2);
    std::memcpy(&bytes[header + 2], &dport, 2);
    return bytes;
  }
};
