#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// An IPv6 packet as the capture hands it over, built field by field: the
// fixed header, the extension headers in order, and the payload, whose
// first bytes are the ports (or ICMPv6's type, code and checksum).
struct Ip6Packet {
  struct Extension {
    std::uint8_t kind = 0;  // 0, 43, 60: 8-byte units; 51: 4-byte units; 44: fragment
    std::size_t length = 8;  // bytes, a multiple of the header's unit
    std::uint16_t fragmentOffset = 0;  // fragment only, in 8-byte units
    bool moreFragments = false;
    std::uint32_t id = 0;
  };

  std::string source = "2001:db8::1";
  std::string destination = "2001:db8::2";
  std::uint8_t protocol = 6;  // the upper layer, after the extension headers
  std::vector<Extension> extensions;
  std::uint16_t sourcePort = 1024;
  std::uint16_t destinationPort = 80;
  std::size_t payloadLength = 60;  // after the extension headers

  static void PutAddress(std::uint8_t* to, const std::string& text) { inet_pton(AF_INET6, text.c_str(), to); }

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes(40);
    bytes[0] = 0x60;
    bytes[7] = 64;
    PutAddress(&bytes[8], source);
    PutAddress(&bytes[24], destination);
    std::size_t nextAt = 6;
    for (const Extension& extension : extensions) {
      bytes[nextAt] = extension.kind;
      const std::size_t at = bytes.size();
      bytes.resize(at + extension.length, 0);
      nextAt = at;
      if (extension.kind == 44) {
        const std::uint16_t field = static_cast<std::uint16_t>(extension.fragmentOffset << 3 | extension.moreFragments);
        bytes[at + 2] = static_cast<std::uint8_t>(field >> 8);
        bytes[at + 3] = static_cast<std::uint8_t>(field);
        const std::uint32_t id = htonl(extension.id);
        std::memcpy(&bytes[at + 4], &id, 4);
      } else {
        const std::size_t unit = extension.kind == 51 ? 4 : 8;
        bytes[at + 1] = static_cast<std::uint8_t>(extension.length / unit - (extension.kind == 51 ? 2 : 1));
      }
    }
    bytes[nextAt] = protocol;
    const std::size_t payloadAt = bytes.size();
    bytes.resize(payloadAt + payloadLength, 0);
    if (payloadLength >= 4) {
      const std::uint16_t sport = htons(sourcePort), dport = htons(destinationPort);
      std::memcpy(&bytes[payloadAt], &sport, 2);
      std::memcpy(&bytes[payloadAt + 2], &dport, 2);
    }
    const std::size_t length = bytes.size() - 40;
    bytes[4] = static_cast<std::uint8_t>(length >> 8);
    bytes[5] = static_cast<std::uint8_t>(length);
    return bytes;
  }
};
