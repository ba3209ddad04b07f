#pragma once

#include <cstddef>
#include <cstdint>

// "255.255.255.255" and its terminator.
inline constexpr std::size_t kDottedAddressSize = 16;

// Writes the dotted-decimal text of an IPv4 address held in network byte
// order, as it was taken from the packet.
void FormatDottedAddress(std::uint32_t addressNetworkOrder, char (&text)[kDottedAddressSize]);
