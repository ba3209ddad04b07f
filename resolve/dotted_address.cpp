#include "resolve/dotted_address.h"

#include "capture/decimal_text.h"

namespace resolve {

// Written by hand: the refresh pass asks for two of these per new row, and
// the library's conversion costs several times as much.
void FormatDottedAddress(std::uint32_t addressNetworkOrder, char (&text)[kDottedAddressSize]) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&addressNetworkOrder);
  char* out = text;
  for (int i = 0; i < 4; ++i) {
    if (i != 0) *out++ = '.';
    out = AppendDecimal(out, bytes[i]);
  }
  *out = '\0';
}

}  // namespace resolve
