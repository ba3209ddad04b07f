#pragma once

#include <fstream>
#include <sstream>
#include <string>

// The root of the cgroup v2 hierarchy, from the mount table ("" when none
// is mounted): /sys/fs/cgroup, or /sys/fs/cgroup/unified beside the first
// version's controllers.
inline std::string CgroupRoot() {
  // Fields: id, parent, major:minor, root, mount point, options, [optional...], "-", type, ...
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    const auto separator = line.find(" - ");
    if (separator == std::string::npos || line.compare(separator + 3, 8, "cgroup2 ") != 0) continue;
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    fields >> id >> parent >> device >> root >> mountPoint;
    if (root == "/") return mountPoint;
  }
  return {};
}
