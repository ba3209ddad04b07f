#include "capture_helper/helper_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool IsDeviceNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-' || c == ':';
}

// A whole decimal number in [minimum, maximum]; nothing else is accepted.
bool ParseNumber(const char* text, long minimum, long maximum, int& value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
  value = static_cast<int>(parsed);
  return true;
}

// "--name=value": the value when `argument` is that option, else null.
const char* OptionValue(const char* argument, const char* name) {
  const std::size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0 || argument[length] != '=') return nullptr;
  return argument + length + 1;
}

}  // namespace

bool IsValidDeviceName(const std::string& name) {
  if (name.empty() || name.size() > HelperOptions::kMaxDeviceNameLength) return false;
  if (name[0] == '-' || name == "." || name == "..") return false;
  for (const char c : name) {
    if (!IsDeviceNameCharacter(c)) return false;
  }
  return true;
}

std::string ParseHelperOptions(int argc, const char* const* argv, HelperOptions& options) {
  int i = 0;
  for (; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--") == 0) {
      ++i;
      break;
    }
    if (std::strncmp(argument, "--", 2) != 0) break;
    const char* value = nullptr;
    if (std::strcmp(argument, "--no-promiscuous") == 0) {
      options.promiscuous = false;
    } else if (std::strcmp(argument, "--ring") == 0) {
      options.ring = true;
    } else if (std::strcmp(argument, "--socket-events") == 0) {
      options.socketEvents = true;
    } else if ((value = OptionValue(argument, "--socket-events")) != nullptr) {
      // A folder the caller names, opened with the caller's own rights.
      if (*value != '/' || std::strlen(value) >= HelperOptions::kMaxCgroupPathLength) return "invalid cgroup";
      options.socketEvents = true;
      options.cgroup = value;
    } else if ((value = OptionValue(argument, "--snaplen")) != nullptr) {
      if (!ParseNumber(value, 1, HelperOptions::kMaxSnapLength, options.snapLength)) return "invalid snap length";
    } else if ((value = OptionValue(argument, "--timeout")) != nullptr) {
      if (!ParseNumber(value, 1, HelperOptions::kMaxTimeoutMs, options.timeoutMs)) return "invalid read time-out";
    } else if ((value = OptionValue(argument, "--buffer")) != nullptr) {
      if (!ParseNumber(value, 0, HelperOptions::kMaxBufferBytes, options.bufferBytes)) return "invalid buffer size";
    } else if ((value = OptionValue(argument, "--filter-timeout")) != nullptr) {
      if (!ParseNumber(value, HelperOptions::kMinFilterTimeoutMs, HelperOptions::kMaxFilterTimeoutMs,
                       options.filterTimeoutMs))
        return "invalid filter time-out";
    } else {
      return "unknown option";
    }
  }
  if (argc - i != 1) return "exactly one device name expected";
  options.device = argv[i];
  if (!IsValidDeviceName(options.device)) return "invalid device name";
  return {};
}
