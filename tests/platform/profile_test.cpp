#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "config/temp_settings_file.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefault = "<default>";

// The profile functions are tested on the kind of file they mostly serve.
class ProfileTest : public TempSettingsFile {
 protected:
  std::string Read(std::string_view section, std::string_view key) const {
    return platform::GetPrivateProfileString(section, key, kDefault, path_);
  }
  bool Write(std::string_view section, std::string_view key, std::string_view value) const {
    return platform::WritePrivateProfileString(section, key, value, path_);
  }
  // Nothing but the profile itself may be left in the folder.
  void ExpectNoStrayFiles() const {
    for (const auto& entry : fs::directory_iterator(folder_))
      EXPECT_EQ(entry.path(), fs::path(path_));
  }
};

std::string WithCrLf(std::string_view text) {
  std::string result;
  for (char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

constexpr std::string_view kHandEdited =
    "; a comment before any section\n"
    "orphan=before any section\n"
    "[Main]\n"
    "  Alpha = one  \n"
    "beta=two=three\n"
    "Beta=later duplicate\n"
    "#gamma=in a comment\n"
    "\t; delta=in a comment\n"
    "\n"
    "gamma=\n"
    "quoted = \"  padded  \"\n"
    "half = \"open\n"
    "a line that is neither\n"
    "[second\n"
    "[ Second ] trailing words\n"
    "alpha=second section\n"
    "[main]\n"
    "epsilon=in the repeated section\n"
    "[SECOND]\n"
    "alpha=repeated second\n"
    "[third]\n"
    "last=no line end";

TEST_F(ProfileTest, ReadsAHandEditedFileAsItsUserMeansIt) {
  const struct {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"main", "alpha", "one"},
      {"MAIN", "ALPHA", "one"},
      {" main ", " alpha ", "one"},
      {"main", "beta", "two=three"},
      {"main", "gamma", ""},
      {"main", "quoted", "  padded  "},
      {"main", "half", "\"open"},
      {"main", "delta", kDefault},
      {"main", "#gamma", kDefault},
      {"main", "epsilon", kDefault},
      {"main", "a line that is neither", kDefault},
      {"main", "orphan", kDefault},
      {"second", "alpha", "second section"},
      {"THIRD", "last", "no line end"},
      {"nosuch", "alpha", kDefault},
      {"main", "nosuch", kDefault},
  };
  for (const std::string& text : {std::string(kHandEdited), WithCrLf(kHandEdited)}) {
    Store(text);
    const bool crlf = text.find('\r') != std::string::npos;
    for (const auto& c : cases)
      EXPECT_EQ(Read(c.section, c.key), c.expected) << c.section << '/' << c.key << (crlf ? " CR LF" : "");
  }
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
  EXPECT_EQ(Read("main", "alpha"), kDefault);
  EXPECT_EQ(platform::GetPrivateProfileInt("main", "alpha", -3, path_), -3);
  EXPECT_FALSE(fs::exists(path_)) << "reading creates nothing";
}

TEST_F(ProfileTest, IntegerTakesTheLeadingSignedNumber) {
  const struct {
    const char* stored;
    int expected;
  } cases[] = {
      {"42", 42},
      {"-17", -17},
      {"  -17 ", -17},
      {"12abc", 12},
      {"\"33\"", 33},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
      {"0x10", 0},
      {"abc", 5},
      {"", 5},
      {"-", 5},
      {"- 3", 5},
  };
  for (const auto& c : cases) {
    Store(std::string("[main]\nvalue=") + c.stored + "\n");
    EXPECT_EQ(platform::GetPrivateProfileInt("main", "value", 5, path_), c.expected) << '"' << c.stored << '"';
  }
}

TEST_F(ProfileTest, WritePlacesTheKeyAndKeepsEveryOtherByte) {
  const struct {
    std::optional<std::string_view> before;  // nullopt: no file yet
    const char* section;
    const char* key;
    const char* value;
    std::string_view after;
  } cases[] = {
      {std::nullopt, "main", "a", "1", "[main]\na=1\n"},
      {"", "main", "a", "1", "[main]\na=1\n"},
      {"[main]\na=1\n", "main", "b", "2", "[main]\na=1\nb=2\n"},
      {"[main]\na=1", "main", "b", "2", "[main]\na=1\nb=2\n"},
      {"[main]\na=1", "log", "c", "3", "[main]\na=1\n\n[log]\nc=3\n"},
      {"[main]\na=1\n\n", "log", "c", "3", "[main]\na=1\n\n[log]\nc=3\n"},
      {"[Main]\n A = old ; not a comment \n", "MAIN", "a", "new", "[Main]\n A = new \n"},
      {"[main]\na=\"quoted\"\n", "main", "a", "plain", "[main]\na=plain\n"},
      {"[main]\na=x\n[main]\na=y\n", "main", "a", "z", "[main]\na=z\n[main]\na=y\n"},
      {"[main]\na=x\na=y\n", "main", "a", "z", "[main]\na=z\na=y\n"},
      // The new key goes after the section's last filled line, before the
      // blank lines that set it apart from the next one.
      {"; top\r\n[main]\r\na = 1\r\n; note\r\n\r\n\r\n[other]\r\nx=y\r\n", "main", "b", "2",
       "; top\r\n[main]\r\na = 1\r\n; note\r\nb=2\r\n\r\n\r\n[other]\r\nx=y\r\n"},
      {"[main]\r\na=1\nb=2\n", "new", "c", "3", "[main]\r\na=1\nb=2\n\r\n[new]\r\nc=3\r\n"},
      {"[main]\na=1\r\n", "new", "c", "3", "[main]\na=1\r\n\n[new]\nc=3\n"},
      {"[empty]\n\n[main]\n", "empty", "k", "v", "[empty]\nk=v\n\n[main]\n"},
      {"junk before\n[main]", "main", "k", "v", "junk before\n[main]\nk=v\n"},
  };
  for (const auto& c : cases) {
    fs::remove(path_);
    if (c.before) Store(*c.before);
    ASSERT_TRUE(Write(c.section, c.key, c.value)) << c.after;
    EXPECT_EQ(Stored(), c.after);
  }
  ExpectNoStrayFiles();
}

TEST_F(ProfileTest, WrittenValuesReadBackUnchanged) {
  const char* values[] = {"-1",       "-2147483648", "2147483647", "",         "  padded  ",
                          "\"quoted\"", "\"",         "a=b",        "; text",   "C:\\dir with spaces\\log.txt",
                          "/var/log/流量.txt"};
  Store("[main]\nkeep=this\n");
  for (const char* value : values) {
    ASSERT_TRUE(Write("main", "value", value)) << value;
    EXPECT_EQ(Read("main", "value"), value);
  }
  EXPECT_EQ(Read("main", "keep"), "this");
  for (int value : {-1, INT_MIN, INT_MAX, 0}) {
    ASSERT_TRUE(Write("main", "number", std::to_string(value)));
    EXPECT_EQ(platform::GetPrivateProfileInt("main", "number", 5, path_), value);
  }
}

TEST_F(ProfileTest, RefusesNamesAndValuesThatCannotReadBack) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"main", "", "v"},     {"main", "  ", "v"},   {"main", "a=b", "v"}, {"main", "[a", "v"},
      {"main", ";a", "v"},   {"main", "#a", "v"},   {"ma]in", "a", "v"},  {"main", "a", "line\nbreak"},
      {"main", "a\rb", "v"}, {"ma\nin", "a", "v"},
  };
  for (const auto& c : cases) EXPECT_FALSE(Write(c.section, c.key, c.value)) << c.section << '/' << c.key;
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ProfileTest, FailedWritesReportFalseAndChangeNothing) {
  EXPECT_FALSE(platform::WritePrivateProfileString("main", "a", "1", (folder_ / "missing" / "x.ini").string()));
  EXPECT_FALSE(platform::WritePrivateProfileString("main", "a", "1", folder_.string()));

  Store("[main]\na=1\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(Write("main", "a", "2"));
  EXPECT_FALSE(Write("main", "b", "2"));
  EXPECT_EQ(Stored(), "[main]\na=1\n");

  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  if (geteuid() != 0) {  // a privileged writer may write into any folder
    EXPECT_FALSE(Write("main", "a", "2"));
    EXPECT_EQ(Stored(), "[main]\na=1\n");
  }
  fs::permissions(folder_, fs::perms::owner_all);
  ExpectNoStrayFiles();
}

TEST_F(ProfileTest, ReplacementKeepsPermissionsAndLinks) {
  const fs::path target = folder_ / "target.ini";
  std::ofstream(target) << "[main]\na=1\n";
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(target, path_);

  ASSERT_TRUE(Write("main", "a", "2"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(Read("main", "a"), "2");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileTest, AnyBytesAndHugeLinesAreHandled) {
  std::string odd = "[main]\n";
  for (int byte = 0; byte < 256; ++byte) odd += static_cast<char>(byte);
  odd += "\nhuge=" + std::string(1 << 20, 'h') + "\n";
  odd += std::string("nul=a\0b", 7) + "\n";
  odd += "\xff\xfe=\x80\x81\n";
  odd += "plain=found\n";
  Store(odd);

  EXPECT_EQ(Read("main", "plain"), "found");
  EXPECT_EQ(Read("main", "huge").size(), std::size_t{1} << 20);
  EXPECT_EQ(Read("main", "nul"), std::string("a\0b", 3));
  EXPECT_EQ(Read("main", "\xff\xfe"), "\x80\x81");
  ASSERT_TRUE(Write("main", "added", "1"));
  EXPECT_EQ(Stored(), odd + "added=1\n");
}

// A value can hold no line break, so the CR that ends a file is a line
// end, not the last byte of its last value; a write keeps it in place.
TEST_F(ProfileTest, ACarriageReturnThatEndsTheFileEndsItsLastLine) {
  for (const char* value : {"1", ""}) {
    SCOPED_TRACE(value);
    Store(std::string("[main]\na=") + value + "\r");
    EXPECT_EQ(Read("main", "a"), value);
    ASSERT_TRUE(Write("main", "a", "2"));
    EXPECT_EQ(Stored(), "[main]\na=2\r");
    ASSERT_TRUE(Write("main", "b", "3"));
    EXPECT_EQ(Stored(), "[main]\na=2\r\nb=3\n");
  }
}

TEST_F(ProfileTest, ManyValuesGoInOneRewriteThatKeepsEveryOtherLine) {
  Store("; mine\n[Main]\nA = 1\nunknown line\n[other]\nx=1\n");
  const platform::ProfileValue values[] = {
      {"main", "a", "2"}, {"MAIN", "b", "3"}, {"new", "c", "4"}, {"main", "bad=key", "5"}, {" Other ", "X", " 9"},
  };
  EXPECT_FALSE(platform::WritePrivateProfileStrings(values, path_)) << "one value cannot be stored";
  EXPECT_EQ(Stored(), "; mine\n[Main]\nA = 2\nunknown line\nb=3\n[other]\nx=\" 9\"\n\n[new]\nc=4\n");
  EXPECT_TRUE(platform::WritePrivateProfileStrings({}, path_));
  ExpectNoStrayFiles();
}

// A writer killed between writing its temporary file and renaming it
// leaves the file behind; the next write removes it, but only when the
// process named in it is gone.
TEST_F(ProfileTest, TemporariesOfWritersThatDiedAreRemovedAtTheNextWrite) {
  ChildProcess child = ChildProcess::Fork([] { return 0; });
  const pid_t dead = child.Pid();
  ASSERT_TRUE(child.Started());
  child.Wait();
  const auto temporary = [&](pid_t writer, const char* rest) {
    return path_ + ".tmp-" + std::to_string(writer) + rest;
  };
  const std::string stale[] = {temporary(dead, "-0"), temporary(dead, "-12")};
  const std::string kept[] = {
      temporary(getpid(), "-3"),  // its writer runs
      temporary(1, "-0"),         // so does this one
      temporary(dead, ""),        // not a name we give
      temporary(dead, "-x"),
      path_ + ".tmp--1",
      (folder_ / "other.dat.tmp-").string() + std::to_string(dead) + "-0",  // another file's
  };
  for (const auto& name : stale) std::ofstream(name) << std::string(1000, 'x');
  for (const auto& name : kept) std::ofstream(name) << "x";
  const std::string link = temporary(dead, "-5");
  fs::create_symlink(kept[0], link);  // not a file we wrote

  ASSERT_TRUE(Write("main", "a", "1"));
  for (const auto& name : stale) EXPECT_FALSE(fs::exists(name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read("main", "a"), "1");
}

TEST_F(ProfileTest, AFolderInPlaceOfTheFileReadsAsMissing) {
  fs::create_directory(path_);
  EXPECT_EQ(Read("main", "a"), kDefault);
  EXPECT_EQ(platform::GetPrivateProfileInt("main", "a", 9, path_), 9);
}

}  // namespace
