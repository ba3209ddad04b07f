#include "resolve/dotted_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace resolve {

void FormatDottedAddress(std::uint32_t addressNetworkOrder, char (&text)[kDottedAddressSize]) {
  in_addr address{};
  address.s_addr = addressNetworkOrder;
  static_assert(kDottedAddressSize >= INET_ADDRSTRLEN);
  inet_ntop(AF_INET, &address, text, sizeof text);
}

}  // namespace resolve
