#pragma once

#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>

// The fields of /proc/<pid>/status as the kernel shows them at the moment
// the object is made ("CapEff", "NoNewPrivs", "PPid", ...).
class ProcessStatus {
 public:
  explicit ProcessStatus(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(file, line)) m_text += line + '\n';
  }

  bool Exists() const { return !m_text.empty(); }

  // The value after "Name:", without the blanks before it; empty when the
  // field is not there.
  std::string Field(const std::string& name) const {
    const auto at = m_text.find(name + ":\t");
    if (at == std::string::npos) return {};
    const auto start = at + name.size() + 2;
    return m_text.substr(start, m_text.find('\n', start) - start);
  }

  // A capability set's field as a number; all ones when it is not there,
  // so that a missing field never passes for an empty set.
  std::uint64_t Hex(const std::string& name) const {
    const std::string value = Field(name);
    return value.empty() ? ~std::uint64_t{0} : std::stoull(value, nullptr, 16);
  }

 private:
  std::string m_text;
};
