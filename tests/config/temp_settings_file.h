#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

// A settings file path in a fresh folder of its own, so that no test sees
// another's file, with its raw bytes at hand for exact comparisons.
class TempSettingsFile : public ::testing::Test {
 protected:
  TempSettingsFile() {
    std::string pattern = ::testing::TempDir() + "quorvel-config-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
    folder_ = pattern;
    path_ = (folder_ / "quorvel.dat").string();
  }
  ~TempSettingsFile() override {
    std::error_code ignored;
    // A test may have left its folder read-only.
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

  void Store(std::string_view text) const { std::ofstream(path_, std::ios::binary) << text; }

  std::string Stored() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  bool Exists() const { return std::filesystem::exists(path_); }

  std::filesystem::path folder_;
  std::string path_;
};
