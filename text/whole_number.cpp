#include "text/whole_number.h"

#include <charconv>

std::optional<std::uint32_t> ParseWholeNumber(std::string_view text, std::uint32_t smallest, std::uint32_t largest) {
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || next != end || value < smallest || value > largest) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}
