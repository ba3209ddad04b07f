#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "config/settings.h"

// Settings of a test's own, on a file in a fresh temporary folder, so that
// nothing a test changes reaches another test or the real settings.
class SettingsFixture : public ::testing::Test {
 protected:
  SettingsFixture() {
    m_folder = std::filesystem::path(::testing::TempDir()) /
               ("quorvel-" + std::to_string(::getpid()) + "-" + std::to_string(++s_counter));
    std::filesystem::create_directories(m_folder);
    m_settings = std::make_unique<CSettings>((m_folder / "quorvel.dat").string());
  }
  ~SettingsFixture() override {
    m_settings.reset();
    std::filesystem::remove_all(m_folder);
  }

  CSettings& Settings() { return *m_settings; }
  const std::filesystem::path& Folder() const { return m_folder; }

 private:
  static inline int s_counter = 0;
  std::filesystem::path m_folder;
  std::unique_ptr<CSettings> m_settings;
};
