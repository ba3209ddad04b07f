#include "ui/sort_rules.h"

#include <algorithm>

#include "text/format_amount.h"

namespace {

constexpr std::int64_t kLimit = std::int64_t{1} << 62;
constexpr std::int64_t kKilobyte = 1024, kMegabyte = 1048576;
// Far above any figure the list shows (4294967295 bytes); in hundredths and
// times a megabyte it still fits.
constexpr std::int64_t kMaxWholeAmount = std::int64_t{1} << 34;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::int64_t UnitFactor(std::string_view word, int units) {
  if (word.starts_with("Kb")) return kKilobyte;
  if (word.starts_with("Mb")) return kMegabyte;
  if (!word.empty()) return 1;  // bytes, b/s
  switch (units) {
    case kUnitsKilobytes: return kKilobyte;
    case kUnitsMegabytes: return kMegabyte;
    default: return 1;
  }
}

}  // namespace

ColumnOrder ColumnSortOrder(int column) {
  switch (column) {
    case 1:  // source port
    case 3:  // destination port
    case 6:  // packets
      return ColumnOrder::kNumber;
    case 5:  // traffic
    case 7:  // speed
    case 8:  // average speed
      return ColumnOrder::kAmount;
    case 0:  // source address
    case 2:  // destination address
      return ColumnOrder::kAddress;
    default:
      return ColumnOrder::kText;
  }
}

std::int64_t LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::int64_t AmountValue(std::string_view text, int units) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  std::int64_t whole = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (whole < kMaxWholeAmount) whole = whole * 10 + (text[i] - '0');
  }
  std::int64_t hundredths = std::min(whole, kMaxWholeAmount) * 100;
  if (i < text.size() && text[i] == '.') {
    ++i;
    for (std::int64_t place = 10; place > 0 && i < text.size() && IsDigit(text[i]); place /= 10, ++i)
      hundredths += (text[i] - '0') * place;
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  while (i < text.size() && IsSpace(text[i])) ++i;
  return hundredths * UnitFactor(text.substr(i), units);
}
