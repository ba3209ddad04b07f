#include "text/dotted_address.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <random>
#include <vector>

namespace {

// Against the library's conversion: the widest and narrowest texts, each
// byte at one, two and three digits, and random addresses.
TEST(DottedAddressTest, WritesWhatTheLibraryWrites) {
  std::vector<std::uint32_t> addresses = {0x00000000u, 0xFFFFFFFFu, 0x0A000001u, 0x010A64FFu, 0x64630A09u};
  std::mt19937 random(3);
  for (int i = 0; i < 1000; ++i) addresses.push_back(static_cast<std::uint32_t>(random()));
  for (const std::uint32_t hostOrder : addresses) {
    const std::uint32_t address = htonl(hostOrder);
    char expected[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, expected, sizeof expected);
    char text[kDottedAddressSize];
    FormatDottedAddress(address, text);
    EXPECT_STREQ(text, expected);
  }
}

}  // namespace
