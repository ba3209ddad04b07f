// The filter store: filters.dat as it is read and written, and what the
// store gives the capture and the dialog.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "config/temp_settings_file.h"
#include "filters/filter_manager.h"
#include "filters/filter_store_fakes.h"
#include "filters/filters_file.h"

namespace {

using Rows = std::vector<FakeFilterRows::Row>;

// A store on filters.dat in a fresh folder of the test's own.
class FilterStoreTest : public TempSettingsFile {
 protected:
  FilterStoreTest() { m_store.SetCapture(&m_capture); }

  std::string FiltersPath() const { return m_file.Path(); }
  void WriteFilters(const std::string& content) const { m_file.Write(content); }
  std::string ReadFilters() const { return m_file.Read(); }
  Rows Loaded() {
    m_store.Load();
    Rows rows;
    for (const FilterEntry& entry : m_store.Entries()) rows.emplace_back(entry.text, entry.enabled);
    return rows;
  }

  FiltersFile m_file{folder_};
  FakeFilterCapture m_capture;
  CFilterManager m_store{FiltersPath()};
};

struct FileCase {
  const char* name;
  std::string content;
  Rows expected;
};

std::string Repeated(char c, std::size_t count) { return std::string(count, c); }

TEST_F(FilterStoreTest, ReadsEveryKindOfLine) {
  const FileCase cases[] = {
      {"no flag: a filter that is off", "host 10.0.0.5\r\n", {{"host 10.0.0.5", false}}},
      {"flags", "+tcp\r\n-udp\r\n", {{"tcp", true}, {"udp", false}}},
      {"a comment", "; my filters\r\n+tcp\r\n;+udp\r\n", {{"tcp", true}}},
      {"a flag alone", "+\r\n-\r\n", {{"", true}, {"", false}}},
      {"a space after the flag stays", "+ port 53\r\n", {{" port 53", true}}},
      {"the trim set", " \t+udp \t\r\n\t-icmp\n\r\n \t \r\n", {{"udp", true}, {"icmp", false}}},
      {"only the flag is taken off", "+-tcp\r\n--\r\n", {{"-tcp", true}, {"-", false}}},
      {"no line end at the end", "-host 10.0.0.5", {{"host 10.0.0.5", false}}},
      {"a lone carriage return", "+tcp\rport 80\r\n", {{"tcp port 80", true}}},
      {"a NUL byte ends the expression", std::string("+tcp\0junk\r\n", 11), {{"tcp", true}}},
      // 499 characters at a time: the rest of a long line is read as lines
      // of its own, with their own flags and comments.
      {"a line of 1200 characters",
       "-" + Repeated('x', 498) + "+" + Repeated('y', 498) + ";" + Repeated('z', 201) + "\r\n",
       {{Repeated('x', 498), false}, {Repeated('y', 498), true}}},
      {"499 characters then CR LF", "+" + Repeated('a', 498) + "\r\n+udp\r\n", {{Repeated('a', 498), true}, {"udp", true}}},
      {"an empty file", "", {}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFilters(c.content);
    EXPECT_EQ(Loaded(), c.expected);
  }
}

TEST_F(FilterStoreTest, WhatCannotBeReadIsAnEmptyList) {
  EXPECT_EQ(Loaded(), Rows{}) << "missing";
  std::filesystem::create_directory(FiltersPath());
  EXPECT_EQ(Loaded(), Rows{}) << "a folder";
  std::filesystem::remove(FiltersPath());
  ASSERT_EQ(mkfifo(FiltersPath().c_str(), 0600), 0);
  EXPECT_EQ(Loaded(), Rows{}) << "a named pipe never blocks the read";
}

TEST_F(FilterStoreTest, WritesCrLfWithoutCommentsOrEmptyFilters) {
  WriteFilters("; mine\n+tcp\n+\nhost 10.0.0.5\n- port 53\n");
  m_store.Load();
  m_store.Save();
  EXPECT_EQ(ReadFilters(), "+tcp\r\n-host 10.0.0.5\r\n- port 53\r\n");
  EXPECT_EQ(Loaded(), (Rows{{"tcp", true}, {"host 10.0.0.5", false}, {" port 53", false}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1) << "no temporary file is left";
}

TEST_F(FilterStoreTest, AFileThatCannotBeWrittenKeepsItsContents) {
  WriteFilters("+tcp\r\n");
  m_store.RebuildFromList(FakeFilterRows({{"udp", true}}));
  std::filesystem::permissions(FiltersPath(), std::filesystem::perms::owner_read);
  m_store.Save();
  EXPECT_EQ(ReadFilters(), "+tcp\r\n") << "a read-only file";
  EXPECT_EQ(m_store.Entries().size(), 1u) << "the change stays in memory";

  CFilterManager elsewhere((folder_ / "gone" / "filters.dat").string());
  elsewhere.RebuildFromList(FakeFilterRows({{"udp", true}}));
  elsewhere.Save();
  EXPECT_FALSE(std::filesystem::exists(folder_ / "gone")) << "a folder that does not exist";
}

// Texts are kept as a line of the file can hold them.
TEST_F(FilterStoreTest, RowsAreStoredAsTheFileCanHoldThem) {
  m_store.RebuildFromList(FakeFilterRows({{"tcp", true},
                                          {"", true},
                                          {"udp\nport 53", false},
                                          {std::string("icmp\0x", 6), true},
                                          {Repeated('a', 600), false}}));
  m_store.Save();
  EXPECT_EQ(ReadFilters(), "+tcp\r\n-udp port 53\r\n+icmp\r\n-" + Repeated('a', 499) + "\r\n");
}

TEST_F(FilterStoreTest, FillListLoadsOnlyAnEmptyList) {
  WriteFilters("+tcp\r\n-udp\r\n");
  FakeFilterRows rows({{"left from before", true}});
  m_store.FillList(rows);
  EXPECT_EQ(rows.rows, (Rows{{"tcp", true}, {"udp", false}}));
  WriteFilters("+icmp\r\n");
  m_store.FillList(rows);
  EXPECT_EQ(rows.rows, (Rows{{"tcp", true}, {"udp", false}})) << "loaded already";
  m_store.Clear();
  m_store.FillList(rows);
  EXPECT_EQ(rows.rows, (Rows{{"icmp", true}}));
}

// Every enabled filter that compiles lets its packets through; one that
// does not compile and one that is off are left out.
TEST_F(FilterStoreTest, ACaptureRunsWithEveryEnabledFilterThatCompiles) {
  struct Case {
    const char* name;
    Rows rows;
    std::string installed;
    std::size_t inForce;
  } cases[] = {
      {"one", {{"tcp", true}, {"udp", false}}, "tcp", 1},
      {"several", {{"tcp", true}, {"icmp", false}, {"udp and", true}, {"udp port 53", true}}, "(tcp) or (udp port 53)",
       2},
      {"one that takes everything", {{"tcp", true}, {" ", true}}, "", 0},
      {"none that compiles", {{"udp and", true}, {"tcp", false}}, "", 0},
      {"no filter at all", {}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_capture.monitoring = true;
    m_capture.installed.clear();
    m_store.RebuildFromList(FakeFilterRows(c.rows));
    EXPECT_EQ(m_capture.installed, std::vector<std::string>{c.installed});
    EXPECT_EQ(m_store.FiltersInForce(), c.inForce);
    EXPECT_EQ(m_store.ExpressionInForce(), c.installed);
  }
  m_store.Clear();  // the capture stopped
  EXPECT_EQ(m_store.FiltersInForce(), 0u);
  EXPECT_EQ(m_store.ExpressionInForce(), "");
}

TEST_F(FilterStoreTest, EachEnabledFilterHasItsOwnProgramUntilCleared) {
  m_capture.monitoring = true;
  m_store.RebuildFromList(FakeFilterRows({{"tcp", true}, {"udp and", true}, {"icmp", false}}));
  ASSERT_EQ(m_store.Entries().size(), 3u);
  EXPECT_TRUE(m_store.Entries()[0].program.Compiled());
  EXPECT_GT(m_store.Entries()[0].program.Program().bf_len, 0u);
  EXPECT_FALSE(m_store.Entries()[1].program.Compiled());
  EXPECT_FALSE(m_store.Entries()[2].program.Compiled());
  EXPECT_TRUE(m_store.Applied());
  m_store.Apply(0);
  EXPECT_EQ(m_capture.installed.size(), 1u) << "given once";
  m_store.Clear();
  EXPECT_FALSE(m_store.Applied());
  EXPECT_TRUE(m_store.Entries().empty());
}

// Without a capture the list is only kept; the next start gives it to the
// capture without reading the file, and a fresh start with nothing to
// filter sends nothing.
TEST_F(FilterStoreTest, StartUsesTheListOrElseTheFile) {
  WriteFilters("+icmp\r\n");
  m_store.RebuildFromList(FakeFilterRows({{"tcp", true}}));
  EXPECT_TRUE(m_capture.installed.empty());
  EXPECT_FALSE(m_store.Applied());
  m_store.ApplyOnStart();
  EXPECT_EQ(m_capture.installed, std::vector<std::string>{"tcp"});

  m_store.Clear();  // the capture stopped
  m_capture.installed.clear();
  m_store.ApplyOnStart();
  EXPECT_EQ(m_capture.installed, std::vector<std::string>{"icmp"});

  m_store.Clear();
  m_capture.installed.clear();
  WriteFilters("-icmp\r\n");
  m_store.ApplyOnStart();
  EXPECT_TRUE(m_capture.installed.empty());
  EXPECT_TRUE(m_store.Applied());
}

// Checked for the link layer of the capture, or of the adapter chosen for
// the next one: Ethernet expressions are fine on Ethernet and refused,
// with the library's message, where frames carry no link header.
TEST_F(FilterStoreTest, ValidateAnswersForTheCapturesLinkType) {
  struct Case {
    const char* expression;
    int linkType;
    const char* result;
  } cases[] = {
      {"", DLT_EN10MB, "no error"},
      {"tcp[13] & 2 != 0", DLT_EN10MB, "no error"},
      {"ether host 02:00:00:00:00:01", DLT_EN10MB, "no error"},
      {"vlan and udp", DLT_EN10MB, "no error"},
      {"ether host 02:00:00:00:00:01", DLT_RAW,
       "ethernet addresses supported only on ethernet/FDDI/token ring/802.11/ATM LANE/Fibre Channel"},
      {"vlan", DLT_RAW, "no VLAN support for Raw IP"},
      {"vlan", DLT_NULL, "no VLAN support for BSD loopback"},
      {"udp and", DLT_EN10MB, "can't parse filter expression: syntax error"},
      {"port 99999", DLT_EN10MB, "illegal port number 99999 > 65535"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    m_capture.linkType = c.linkType;
    EXPECT_EQ(m_store.Validate(c.expression), c.result);
  }
  EXPECT_EQ(m_store.Validate(std::string("tcp\0 and", 8)), "filter expression holds a NUL byte");

  m_capture.linkType = DLT_RAW;
  m_capture.monitoring = true;
  m_store.RebuildFromList(FakeFilterRows({{"ether host 02:00:00:00:00:01", true}, {"udp", true}}));
  EXPECT_EQ(m_capture.installed, std::vector<std::string>{"udp"});
}

TEST_F(FilterStoreTest, WithoutACaptureNothingIsInstalled) {
  CFilterManager alone(FiltersPath());
  WriteFilters("+tcp\r\n");
  alone.ApplyOnStart();
  EXPECT_FALSE(alone.Applied());
  EXPECT_EQ(alone.Validate("ether host 02:00:00:00:00:01"), "no error") << "Ethernet when nothing is known";
}

}  // namespace
