#include "text/dotted_address.h"

#include <cstring>

namespace {

// The text of every byte value, padded to four bytes, with its length.
struct ByteTexts {
  char text[256][4];
  std::uint8_t length[256];
};

constexpr ByteTexts MakeByteTexts() {
  ByteTexts texts{};
  for (int value = 0; value < 256; ++value) {
    char* out = texts.text[value];
    int length = 0;
    if (value >= 100) out[length++] = static_cast<char>('0' + value / 100);
    if (value >= 10) out[length++] = static_cast<char>('0' + value / 10 % 10);
    out[length++] = static_cast<char>('0' + value % 10);
    texts.length[value] = static_cast<std::uint8_t>(length);
  }
  return texts;
}

constexpr ByteTexts kByteTexts = MakeByteTexts();

}  // namespace

// From a table of the 256 byte texts: the refresh pass asks for two of
// these per new row, and the library's conversion costs several times as
// much.
void FormatDottedAddress(std::uint32_t addressNetworkOrder, char (&text)[kDottedAddressSize]) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&addressNetworkOrder);
  char* out = text;
  for (int i = 0; i < 4; ++i) {
    std::memcpy(out, kByteTexts.text[bytes[i]], 4);
    out += kByteTexts.length[bytes[i]];
    *out++ = '.';
  }
  out[-1] = '\0';
}
