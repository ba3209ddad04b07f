#include "resolve/reverse_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace resolve {

std::optional<std::string> ReverseLookupName(std::uint32_t addressNetworkOrder) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = addressNetworkOrder;
  char host[NI_MAXHOST];
  const int result = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                                 sizeof host, nullptr, 0, NI_NAMEREQD);
  if (result != 0) return std::nullopt;
  return std::string(host);
}

}  // namespace resolve
