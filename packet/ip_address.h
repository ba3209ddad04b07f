#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>

// An IPv4 or IPv6 address, in the byte order it is carried in (an IPv4
// address in the first four bytes, the rest zero). Addresses order
// numerically, every IPv4 address before every IPv6 one.
struct IpAddress {
  static constexpr std::size_t kTextSize = 46;  // INET6_ADDRSTRLEN

  bool ipv6 = false;
  std::array<std::uint8_t, 16> bytes{};

  static IpAddress Ipv4(std::uint32_t carried) {
    IpAddress address;
    std::memcpy(address.bytes.data(), &carried, 4);
    return address;
  }
  static IpAddress Ipv6(const std::uint8_t* carried) {
    IpAddress address;
    address.ipv6 = true;
    std::memcpy(address.bytes.data(), carried, 16);
    return address;
  }
  // The IPv4 address as carried (network byte order in memory).
  std::uint32_t Ipv4Carried() const {
    std::uint32_t carried = 0;
    std::memcpy(&carried, bytes.data(), 4);
    return carried;
  }

  friend bool operator==(const IpAddress&, const IpAddress&) = default;
  friend std::strong_ordering operator<=>(const IpAddress&, const IpAddress&) = default;
};

// Hashes the 16 bytes of an IPv6 address under a seed drawn at random for
// each table: the addresses come from the network, and under a fixed hash a
// sender could choose many that fall into one bucket.
struct SeededAddressHash {
  SeededAddressHash();
  std::size_t operator()(const std::array<std::uint8_t, 16>& bytes) const;

  std::uint64_t seed;
};

// The address as people write it: dotted for IPv4, the compressed form of
// RFC 5952 for IPv6 ("2001:db8::1"). Returns `text`, which holds
// IpAddress::kTextSize bytes.
const char* FormatIpAddress(const IpAddress& address, char (&text)[IpAddress::kTextSize]);
