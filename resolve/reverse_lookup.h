#pragma once

#include <functional>
#include <optional>
#include <string>

#include "packet/ip_address.h"

namespace resolve {

// Finds the host name of an IPv4 or IPv6 address; nothing when the address
// has no name or the lookup failed. It may block for as long as the
// system's resolver takes, and several threads may call it at the same
// time.
using ReverseResolver = std::function<std::optional<std::string>(const IpAddress& address)>;

// The system's reverse lookup (in-addr.arpa, ip6.arpa); a numeric answer
// counts as no name.
std::optional<std::string> ReverseLookupName(const IpAddress& address);

}  // namespace resolve
