#include "packet/ip_address.h"

#include <arpa/inet.h>

#include <cstring>
#include <random>

#include "text/dotted_address.h"

namespace {

std::uint64_t Mix(std::uint64_t h) {
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

}  // namespace

SeededAddressHash::SeededAddressHash()
    : seed((std::uint64_t{std::random_device()()} << 32) ^ std::random_device()()) {}

std::size_t SeededAddressHash::operator()(const std::array<std::uint8_t, 16>& bytes) const {
  std::uint64_t words[2];
  std::memcpy(words, bytes.data(), sizeof words);
  return static_cast<std::size_t>(Mix(Mix(words[0] ^ seed) ^ words[1]));
}

const char* FormatIpAddress(const IpAddress& address, char (&text)[IpAddress::kTextSize]) {
  if (!address.ipv6) {
    // A new row asks for two of these: the table is several times faster
    // than the library's conversion.
    static_assert(IpAddress::kTextSize >= kDottedAddressSize);
    std::uint32_t ipv4;
    std::memcpy(&ipv4, address.bytes.data(), sizeof ipv4);
    char dotted[kDottedAddressSize];
    FormatDottedAddress(ipv4, dotted);
    std::memcpy(text, dotted, sizeof dotted);
    return text;
  }
  // The C library's form is RFC 5952's: lower case, no leading zeros, the
  // longest run of two or more zero groups as "::".
  if (inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text) == nullptr) text[0] = '\0';
  return text;
}
