#include "text/totals_line.h"

#include "text/decimal_text.h"
#include "text/format_amount.h"

void FormatTotalsLine(char (&line)[kTotalsLineSize], std::uint64_t packets, std::uint64_t dataBytes,
                      std::uint64_t totalBytes, int units) {
  char* out = line;
  out = AppendText(out, "All packets: ");
  out = AppendDecimal(out, packets);
  out = AppendText(out, ", Data: ");
  out = AppendText(out, FormatAmount(dataBytes, 1, 0, units));
  out = AppendText(out, ", Total traffic: ");
  out = AppendText(out, FormatAmount(totalBytes, 1, 0, units));
  *out = '\0';
}
