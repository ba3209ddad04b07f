#include "text/format_amount.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/decimal_text.h"
#include "text/protocol_names.h"

namespace {

struct AmountCase {
  int units;
  std::uint32_t value;
  int withUnit;
  int rate;
  const char* expected;
};

TEST(FormatAmountTest, FormatsInEveryUnit) {
  const AmountCase cases[] = {
      {0, 0, 0, 0, "0"},
      {0, 1500, 1, 1, "1500 b/s"},
      {0, 1500, 1, 0, "1500 bytes"},
      {0, 1500, 0, 1, "1500"},
      {0, 4294967295u, 1, 0, "4294967295 bytes"},
      {1, 1536, 0, 0, "1.50"},
      {1, 1536, 1, 1, "1.50 Kb/s"},
      {1, 128, 0, 0, "0.13"},  // 0.125: an exact tie goes up
      {1, 384, 0, 0, "0.38"},  // 0.375: also up, not to even
      {1, 0, 1, 0, "0.00 Kb"},
      {1, 4294967295u, 1, 1, "4194304.00 Kb/s"},
      {2, 1048576, 0, 0, "1.00"},
      {2, 1048576, 1, 0, "1.00 Mb"},
      {2, 2147483648u + 5243, 0, 0, "2048.01"},
      {3, 1024, 0, 0, "1024 bytes"},
      {3, 1025, 0, 0, "1.00 Kb"},
      {3, 1048576, 0, 0, "1024.00 Kb"},
      {3, 1048577, 0, 0, "1.00 Mb"},
      {3, 1048577, 1, 1, "1.00 Mb/s"},
      {3, 0, 0, 1, "0 b/s"},
      {3, 2147483648u + 5243, 0, 0, "2048.00 Mb"},  // rounded to 24 bits first
      {3, 4294967295u, 1, 0, "4096.00 Mb"},
      {7, 1500, 1, 0, "1500 bytes"},
      {-1, 1500, 0, 0, "1500"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(FormatAmount(c.value, c.withUnit, c.rate, c.units), c.expected)
        << "units " << c.units << ", value " << c.value << ", unit " << c.withUnit << ", rate "
        << c.rate;
  }
}

TEST(FormatAmountTest, DecimalTextAroundEveryCountOfDigits) {
  std::vector<std::uint64_t> values = {0, 18446744073709551615u};
  for (std::uint64_t power = 10; power <= 10000000000000000000u; power *= 10) {
    values.insert(values.end(), {power - 1, power, power + 1});
    if (power > 18446744073709551615u / 10) break;
  }
  for (const std::uint64_t value : values) {
    char text[24];
    *AppendDecimal(text, value) = '\0';
    EXPECT_EQ(text, std::to_string(value));
  }
}

TEST(FormatAmountTest, ResultStaysUntilThreeMoreCallsOnTheSameThread) {
  const char* first = FormatAmount(1, 0, 0, 0);
  const char* second = FormatAmount(2, 0, 0, 0);
  const char* third = FormatAmount(3, 0, 0, 0);
  EXPECT_STREQ(first, "1");
  EXPECT_STREQ(second, "2");
  EXPECT_STREQ(third, "3");
  const char* fourth = FormatAmount(4, 0, 0, 0);
  EXPECT_EQ(fourth, first);
  EXPECT_STREQ(first, "4");
}

TEST(ProtocolNamesTest, NamesEveryProtocolNumber) {
  CompleteProtocolNames();
  const std::pair<int, const char*> cases[] = {
      {0, "Reserved"}, {1, "ICMP"},          {4, "IP"},           {6, "TCP"},
      {17, "UDP"},     {41, "SIP"},          {58, "unknown (58)"}, {93, "AX.25"},
      {100, "GMTP"},   {101, "unknown (101)"}, {200, "unknown (200)"}, {255, "unknown (255)"},
  };
  for (const auto& [number, name] : cases) EXPECT_STREQ(ProtocolNames[number], name) << number;
  for (int number = 0; number < 256; ++number) EXPECT_NE(ProtocolNames[number][0], '\0') << number;
}

}  // namespace
