#include "text/format_amount.h"

#include "text/decimal_text.h"

namespace {

constexpr int kResultBuffers = 3;
constexpr int kResultSize = 32;  // "18446744073709551615 bytes" fits

struct ResultBuffers {
  char text[kResultBuffers][kResultSize];
  int last = kResultBuffers - 1;
};

thread_local ResultBuffers t_results;

constexpr int kKilobyteShift = 10;
constexpr int kMegabyteShift = 20;

struct UnitWords {
  const char* amount;
  const char* rate;
};
constexpr UnitWords kByteWords{" bytes", " b/s"};
constexpr UnitWords kKilobyteWords{" Kb", " Kb/s"};
constexpr UnitWords kMegabyteWords{" Mb", " Mb/s"};

// value / 2^shift with two decimals. The quotient is exact, so rounding in
// integers gives the exact tie rule (half away from zero), which "%.2f"
// would not: it rounds exact ties to even.
char* AppendHundredths(char* out, std::uint64_t value, int shift) {
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  const std::uint64_t hundredths = (value * 100 + half) >> shift;
  out = AppendDecimal(out, hundredths / 100);
  *out++ = '.';
  *out++ = static_cast<char>('0' + hundredths % 100 / 10);
  *out++ = static_cast<char>('0' + hundredths % 10);
  return out;
}

char* AppendWord(char* out, const UnitWords& words, int rate) {
  return AppendText(out, rate ? words.rate : words.amount);
}

// The dynamic unit decides on the value rounded to single precision, so
// values above 2^24 lose their low bits before they are divided.
char* AppendDynamic(char* out, std::uint64_t value, int rate) {
  const float rounded = static_cast<float>(value);
  const auto roundedValue = static_cast<std::uint64_t>(rounded);
  if (rounded > 1048576.0f)
    return AppendWord(AppendHundredths(out, roundedValue, kMegabyteShift), kMegabyteWords, rate);
  if (rounded > 1024.0f)
    return AppendWord(AppendHundredths(out, roundedValue, kKilobyteShift), kKilobyteWords, rate);
  return AppendWord(AppendDecimal(out, value), kByteWords, rate);
}

}  // namespace

const char* FormatAmount(std::uint64_t value, int withUnit, int rate, int units) {
  t_results.last = (t_results.last + 1) % kResultBuffers;
  char* const text = t_results.text[t_results.last];
  char* end = text;
  switch (units) {
    case kUnitsKilobytes:
      end = AppendHundredths(end, value, kKilobyteShift);
      if (withUnit) end = AppendWord(end, kKilobyteWords, rate);
      break;
    case kUnitsMegabytes:
      end = AppendHundredths(end, value, kMegabyteShift);
      if (withUnit) end = AppendWord(end, kMegabyteWords, rate);
      break;
    case kUnitsDynamic:
      end = AppendDynamic(end, value, rate);
      break;
    default:
      end = AppendDecimal(end, value);
      if (withUnit) end = AppendWord(end, kByteWords, rate);
      break;
  }
  *end = '\0';
  return text;
}
