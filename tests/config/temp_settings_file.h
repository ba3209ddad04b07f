#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "support/test_folder.h"

// A settings file path in a fresh folder of its own, so that no test sees
// another's file, with its raw bytes at hand for exact comparisons.
class TempSettingsFile : public ::testing::Test {
 protected:
  TempSettingsFile() : folder_(folderGuard_.Path()), path_((folder_ / "quorvel.dat").string()) {}

  void Store(std::string_view text) const { std::ofstream(path_, std::ios::binary) << text; }

  std::string Stored() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  bool Exists() const { return std::filesystem::exists(path_); }

  TestFolder folderGuard_;
  std::filesystem::path folder_;
  std::string path_;
};
