#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/app_files.h"
#include "config/temp_settings_file.h"

namespace {

class IniFileTest : public TempSettingsFile {
 protected:
  std::string StoredText(const char* key) const {
    char buffer[64];
    file_.GetString("main", key, "<missing>", buffer, sizeof buffer);
    return buffer;
  }

  CIniFile file_{path_};
};

TEST_F(IniFileTest, SignedValuesSurviveAsDecimalText) {
  const struct {
    std::int32_t value;
    const char* text;
  } cases[] = {{-1, "-1"}, {0, "0"}, {42, "42"}, {INT_MIN, "-2147483648"}, {INT_MAX, "2147483647"}};
  for (const auto& c : cases) {
    ASSERT_NE(file_.WriteInt("main", "value", c.value), 0) << c.text;
    EXPECT_EQ(StoredText("value"), c.text);
    EXPECT_EQ(file_.GetInt("main", "value", 7), c.value) << c.text;
  }
}

TEST_F(IniFileTest, UnsignedValuesSurviveAsDecimalText) {
  const struct {
    std::uint32_t value;
    const char* text;
  } cases[] = {{0u, "0"}, {10u, "10"}, {4294967295u, "4294967295"}};
  for (const auto& c : cases) {
    ASSERT_NE(file_.WriteUInt("main", "value", c.value), 0) << c.text;
    EXPECT_EQ(StoredText("value"), c.text);
    EXPECT_EQ(file_.GetUInt("main", "value", 7), c.value) << c.text;
  }
}

TEST_F(IniFileTest, UnsignedReadingTakesTheLeadingNumber) {
  const struct {
    const char* stored;
    std::uint32_t expected;
  } cases[] = {
      {"12abc", 12u},      {"abc", 0u},         {"", 0u},
      {"\t 7", 7u},        {"+8", 8u},          {"4294967296", 4294967295u},
      {"-1", 4294967295u}, {"-5", 4294967291u}, {"99999999999999999999999", 4294967295u},
  };
  for (const auto& c : cases) {
    Store(std::string("[main]\nvalue=") + c.stored + "\n");
    EXPECT_EQ(file_.GetUInt("main", "value", 77), c.expected) << '"' << c.stored << '"';
  }
  EXPECT_EQ(file_.GetUInt("main", "missing", 77), 77u);
}

TEST_F(IniFileTest, StringIsCutToTheBufferAndAlwaysTerminated) {
  const std::string value(300, 'x');
  ASSERT_NE(file_.WriteString("log", "logfile", value.c_str()), 0);

  char buffer[260];
  EXPECT_EQ(file_.GetString("log", "logfile", "", buffer, sizeof buffer), 259);
  EXPECT_EQ(std::string(buffer), value.substr(0, 259));

  char tiny[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(file_.GetString("log", "logfile", "", tiny, 1), 0);
  EXPECT_EQ(tiny[0], '\0');
  EXPECT_EQ(file_.GetString("log", "logfile", "", tiny + 1, 0), 0);
  EXPECT_EQ(tiny[1], 'b') << "no room, so nothing is written";

  EXPECT_EQ(file_.GetString("log", "missing", "defaultlong", tiny, sizeof tiny), 3);
  EXPECT_STREQ(tiny, "def");
}

TEST_F(IniFileTest, WritesIntoAMissingFolderFailQuietly) {
  CIniFile nowhere((folder_ / "no such folder" / "quorvel.dat").string());
  EXPECT_EQ(nowhere.WriteString("main", "key", "value"), 0);
  EXPECT_EQ(nowhere.WriteInt("main", "key", -1), 0);
  EXPECT_EQ(nowhere.WriteUInt("main", "key", 1u), 0);
  EXPECT_EQ(nowhere.GetInt("main", "key", 5), 5);
}

TEST(IniFileDefaultPathTest, IsTheSettingsFileBesideTheExecutable) {
  EXPECT_EQ(CIniFile().Path(), platform::SettingsFilePath());
}

}  // namespace
