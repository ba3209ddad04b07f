#include "text/whole_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

// What command lines and collector addresses may give as a number.
TEST(WholeNumber, TakesDigitsWithinTheBoundsOnly) {
  const struct {
    std::string_view text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"1", 1},          {"65535", 65535},  {"0080", 80},      {"0", std::nullopt},     {"65536", std::nullopt},
      {"", std::nullopt}, {"+5", std::nullopt}, {"-5", std::nullopt}, {" 5", std::nullopt}, {"5 ", std::nullopt},
      {"12ab", std::nullopt}, {"99999999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseWholeNumber(c.text, 1, 65535), c.value) << '"' << c.text << '"';
  EXPECT_EQ(ParseWholeNumber("4294967295", 0, 4294967295u), 4294967295u);
  EXPECT_EQ(ParseWholeNumber("4294967296", 0, 4294967295u), std::nullopt);
}

}  // namespace
