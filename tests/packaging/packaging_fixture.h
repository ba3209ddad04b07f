#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/program_run.h"

namespace packaging_test {

namespace fs = std::filesystem;

inline fs::path MakeTempFolder(const std::string& name) {
  std::string pattern = ::testing::TempDir() + name + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
  return pattern;
}

// A program of the system by its name, or empty when it is not installed.
inline std::string SystemProgram(const std::string& name) {
  for (const char* folder : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"})
    if (access((folder + name).c_str(), X_OK) == 0) return folder + name;
  return {};
}

inline constexpr char kSystemPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";

}  // namespace packaging_test
