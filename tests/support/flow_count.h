#pragma once

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// Counts the packets of a capture file per connection, written apart from
// the monitor's own parser so that a test can hold the monitor's counts
// against it. The rules are those the user guide gives: a connection is
// (source, source port, destination, destination port, protocol); IPv4's
// ports are the four bytes after its header and options, IPv6's those after
// its extension headers, for TCP, UDP and ICMPv6 only; a packet's bytes are
// IPv4's total length or IPv6's 40 plus its payload length; a packet not
// longer than its protocol's assumed header is not counted; a later
// fragment belongs to the connection of its datagram's first fragment when
// that came before it, and has ports 0 otherwise.
class FlowCount {
 public:
  // An Ethernet or raw IP capture file; false (with the library's message)
  // when it cannot be read.
  bool ReadFile(const std::string& path, std::string& error) {
    char message[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.c_str(), message);
    if (file == nullptr) {
      error = message;
      return false;
    }
    const std::size_t linkHeader = pcap_datalink(file) == DLT_EN10MB ? 14 : 0;
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    while (pcap_next_ex(file, &header, &frame) == 1) {
      if (header->caplen <= linkHeader) continue;
      if (linkHeader != 0 && !IsIpEtherType(frame[12] << 8 | frame[13])) continue;
      const std::uint64_t packets = Packets(), bytes = Bytes();
      Count(frame + linkHeader, header->caplen - linkHeader);
      if (Packets() != packets && Bytes() - bytes != header->len - linkHeader) ++m_lengthsUnlikeTheFrame;
    }
    pcap_close(file);
    return true;
  }

  // One network-layer packet, of which `captured` bytes are at `ip`.
  void Count(const std::uint8_t* ip, std::size_t captured) {
    if (captured < 20) return;
    if (ip[0] >> 4 == 4) CountIpv4(ip, captured);
    if (ip[0] >> 4 == 6 && captured >= 40) CountIpv6(ip, captured);
  }

  // As quorvel-replay prints its table: the header, then one line per
  // connection in the order they were first seen.
  std::string Csv() const {
    std::string text = "src,sport,dst,dport,proto,bytes,packets\n";
    for (const Row& row : m_rows)
      text += row.key + "," + std::to_string(row.bytes) + "," + std::to_string(row.packets) + "\n";
    return text;
  }
  std::uint64_t Packets() const { return m_packets; }
  std::uint64_t Bytes() const { return m_bytes; }
  // Counted packets of a file whose length, as their headers give it, is
  // not their frame's length on the wire less the link header: none on a
  // link that neither pads nor cuts frames.
  std::uint64_t LengthsUnlikeTheFrame() const { return m_lengthsUnlikeTheFrame; }

 private:
  using Ports = std::array<std::uint8_t, 4>;
  // family, source, destination, identification, IPv4's protocol
  using Datagram = std::tuple<int, std::string, std::string, std::uint32_t, int>;
  struct FirstFragment {
    int protocol;
    Ports ports;
  };
  struct Row {
    std::string key;
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
  };

  static bool IsIpEtherType(int type) { return type == 0x0800 || type == 0x86DD; }
  static unsigned Be16(const std::uint8_t* at) { return static_cast<unsigned>(at[0] << 8 | at[1]); }
  static std::string Address(int family, const std::uint8_t* at) {
    char text[INET6_ADDRSTRLEN];
    return inet_ntop(family, at, text, sizeof text);
  }
  static Ports PortsAt(const std::uint8_t* ip, std::size_t captured, std::size_t at) {
    Ports ports{};
    for (std::size_t i = 0; i < 4 && at + i < captured; ++i) ports[i] = ip[at + i];
    return ports;
  }
  static unsigned AssumedHeader(int protocol, bool ipv6) {
    const unsigned ipv4 = protocol == 6 ? 40 : protocol == 17 || protocol == 2 ? 28 : protocol == 4 ? 20 : 0;
    return ipv6 && ipv4 != 0 ? ipv4 + 20 : ipv4;
  }

  void CountIpv4(const std::uint8_t* ip, std::size_t captured) {
    const std::size_t headerLength = (ip[0] & 0x0F) * 4u;
    if (headerLength < 20) return;
    const int protocol = ip[9];
    const unsigned offset = Be16(ip + 6) & 0x1FFF;
    const bool more = (Be16(ip + 6) & 0x2000) != 0;
    const std::string source = Address(AF_INET, ip + 12), destination = Address(AF_INET, ip + 16);
    const Datagram datagram{4, source, destination, Be16(ip + 4), protocol};
    Ports ports{};
    if (offset == 0) {
      ports = PortsAt(ip, captured, headerLength);
      if (more) m_firsts[datagram] = {protocol, ports};
    } else if (const auto first = m_firsts.find(datagram); first != m_firsts.end()) {
      ports = first->second.ports;
    }
    Add(source, destination, protocol, ports, Be16(ip + 2), false);
  }

  // The extension headers walked are hop-by-hop (0), routing (43),
  // destination options (60), authentication (51, in 4-byte units) and
  // fragment (44); a later fragment's ends the walk.
  void CountIpv6(const std::uint8_t* ip, std::size_t captured) {
    int next = ip[6];
    std::size_t at = 40;
    bool fragment = false, later = false;
    std::uint32_t id = 0;
    for (int walked = 0; walked < 8 && at + 8 <= captured; ++walked) {
      if (next == 44) {
        fragment = true;
        later = (Be16(ip + at + 2) & 0xFFF8) != 0;
        id = static_cast<std::uint32_t>(Be16(ip + at + 4) << 16 | Be16(ip + at + 6));
        next = ip[at];
        at += 8;
        if (later) break;
      } else if (next == 0 || next == 43 || next == 60 || next == 51) {
        const std::size_t length = next == 51 ? (ip[at + 1] + 2u) * 4u : (ip[at + 1] + 1u) * 8u;
        next = ip[at];
        at += length;
      } else {
        break;
      }
    }
    const std::string source = Address(AF_INET6, ip + 8), destination = Address(AF_INET6, ip + 24);
    const Datagram datagram{6, source, destination, id, 0};
    Ports ports{};
    if (!later && (next == 6 || next == 17 || next == 58)) ports = PortsAt(ip, captured, at);
    if (fragment && !later) m_firsts[datagram] = {next, ports};
    if (const auto first = m_firsts.find(datagram); later && first != m_firsts.end()) {
      next = first->second.protocol;
      ports = first->second.ports;
    }
    Add(source, destination, next, ports, 40 + Be16(ip + 4), true);
  }

  void Add(const std::string& source, const std::string& destination, int protocol, const Ports& ports,
           unsigned length, bool ipv6) {
    if (length <= AssumedHeader(protocol, ipv6)) return;
    const std::string key = source + "," + std::to_string(Be16(&ports[0])) + "," + destination + "," +
                            std::to_string(Be16(&ports[2])) + "," + std::to_string(protocol);
    auto [found, added] = m_positions.try_emplace(key, m_rows.size());
    if (added) m_rows.push_back({key});
    Row& row = m_rows[found->second];
    row.bytes += length;
    row.packets += 1;
    m_bytes += length;
    m_packets += 1;
  }

  std::map<Datagram, FirstFragment> m_firsts;
  std::map<std::string, std::size_t> m_positions;
  std::vector<Row> m_rows;
  std::uint64_t m_packets = 0;
  std::uint64_t m_bytes = 0;
  std::uint64_t m_lengthsUnlikeTheFrame = 0;
};
