#include "ui/sort_rules.h"

namespace {

constexpr std::int64_t kLimit = std::int64_t{1} << 62;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool ColumnSortsAsNumber(int column) {
  switch (column) {
    case 1:  // source port
    case 3:  // destination port
    case 5:  // traffic
    case 6:  // packets
    case 7:  // speed
    case 8:  // average speed
      return true;
    default:
      return false;
  }
}

std::int64_t LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}
