#pragma once

#include <string_view>
#include <vector>

#include "packet/ip_address.h"

// The IPv4 and IPv6 addresses the adapter `device` has now, in the calling
// thread's network namespace; for "any", those of every adapter. Read
// without privilege; empty when the system cannot say or the adapter has
// none.
std::vector<IpAddress> AdapterAddresses(std::string_view device);

// The machine's own addresses, those of all its adapters, in the calling
// thread's network namespace.
std::vector<IpAddress> LocalAddresses();
