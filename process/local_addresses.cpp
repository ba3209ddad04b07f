#include "process/local_addresses.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// The capture library's name for its device that reads every adapter.
constexpr std::string_view kEveryAdapter = "any";

// Other families (the adapter's link address) are no IP addresses.
void AddAddress(const sockaddr* address, std::vector<IpAddress>& to) {
  if (address == nullptr) return;
  if (address->sa_family == AF_INET) {
    std::uint32_t carried = 0;
    std::memcpy(&carried, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    to.push_back(IpAddress::Ipv4(carried));
  } else if (address->sa_family == AF_INET6) {
    to.push_back(IpAddress::Ipv6(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr));
  }
}

}  // namespace

std::vector<IpAddress> AdapterAddresses(std::string_view device) {
  std::vector<IpAddress> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  const bool every = device == kEveryAdapter;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next)
    if (every || (item->ifa_name != nullptr && device == item->ifa_name)) AddAddress(item->ifa_addr, addresses);
  freeifaddrs(list);
  return addresses;
}

std::vector<IpAddress> LocalAddresses() { return AdapterAddresses(kEveryAdapter); }
