#pragma once

#include <string>

// "port 1 or port 2 or ... port N": the capture library's compile time
// grows far faster than its length (about 6 s for 800 alternatives, minutes
// for 2400, 30 KB, on a small machine).
inline std::string ManyPortsFilter(int ports) {
  std::string expression = "port 1";
  for (int port = 2; port <= ports; ++port) expression += " or port " + std::to_string(port);
  return expression;
}
