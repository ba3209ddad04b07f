// The services file: any bytes load, and every name the table hands out is
// one field of a line: not empty, and without the spaces that separate
// fields.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "resolve/services_parser.h"

namespace {

constexpr std::uint8_t kProtocols[] = {1, 6, 17};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFile file("services");
  file.Write(data, size);
  CServicesParser table(file.Path());
  table.SetResolve(1);
  // Every port a line can name is a run of digits somewhere in the file.
  for (std::size_t at = 0; at < size;) {
    if (data[at] < '0' || data[at] > '9') {
      ++at;
      continue;
    }
    unsigned long port = 0;
    for (; at < size && data[at] >= '0' && data[at] <= '9'; ++at) port = std::min(port * 10 + (data[at] - '0'), 0x10000ul);
    if (port > 0xFFFF) continue;
    for (const std::uint8_t protocol : kProtocols) {
      const char* name = table.Lookup(static_cast<std::uint16_t>(port), protocol);
      if (name == nullptr) continue;
      fuzz::Check(port != 0, "a name for port 0");
      fuzz::Check(*name != '\0' && std::strchr(name, ' ') == nullptr, "a name that is not one field");
    }
  }
  return 0;
}
