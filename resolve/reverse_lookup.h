#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace resolve {

// Finds the host name of an IPv4 address (network byte order); nothing
// when the address has no name or the lookup failed. It may block for as
// long as the system's resolver takes, and several threads may call it at
// the same time.
using ReverseResolver = std::function<std::optional<std::string>(std::uint32_t addressNetworkOrder)>;

// The system's reverse lookup; a numeric answer counts as no name.
std::optional<std::string> ReverseLookupName(std::uint32_t addressNetworkOrder);

}  // namespace resolve
