#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "config/settings.h"
#include "support/test_folder.h"

// Settings of a test's own, on a file in a fresh temporary folder, so that
// nothing a test changes reaches another test or the real settings.
class SettingsFixture : public ::testing::Test {
 protected:
  SettingsFixture() : m_settings(std::make_unique<CSettings>((m_folder.Path() / "quorvel.dat").string())) {}
  ~SettingsFixture() override { m_settings.reset(); }

  CSettings& Settings() { return *m_settings; }
  const std::filesystem::path& Folder() const { return m_folder.Path(); }

 private:
  TestFolder m_folder;
  std::unique_ptr<CSettings> m_settings;
};
