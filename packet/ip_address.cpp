#include "packet/ip_address.h"

#include <arpa/inet.h>

const char* FormatIpAddress(const IpAddress& address, char (&text)[IpAddress::kTextSize]) {
  // The C library's form is RFC 5952's: lower case, no leading zeros, the
  // longest run of two or more zero groups as "::".
  if (inet_ntop(address.ipv6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text) == nullptr) text[0] = '\0';
  return text;
}
