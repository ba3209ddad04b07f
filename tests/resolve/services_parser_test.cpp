#include "resolve/services_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/app_files.h"
#include "support/test_folder.h"

namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::uint8_t kIcmp = 1;

// A services file of its own in a folder of its own, removed afterwards.
class ServicesFile {
 public:
  explicit ServicesFile(const std::string& content) { std::ofstream(Path(), std::ios::binary) << content; }
  std::string Path() const { return (m_folder.Path() / "services").string(); }

 private:
  TestFolder m_folder;
};

CServicesParser EmptyTable() { return CServicesParser("/nonexistent/quorvel/services"); }

struct LineCase {
  const char* line;
  std::uint16_t port;
  std::uint8_t protocol;
  const char* expectedName;  // null: the line adds nothing for port/protocol
};

TEST(ServicesParserTest, ParsesOneLineByTheFileRules) {
  const LineCase cases[] = {
      {"echo 7/tcp ping # echo service", 7, kTcp, "echo"},
      {"  domain  53/UDP", 53, kUdp, "domain"},
      {"# comment", 0, kTcp, nullptr},
      {"zero 0/tcp", 0, kTcp, nullptr},
      {"big 65536/udp", 0, kUdp, nullptr},
      {"big 65536/udp", 65535, kUdp, nullptr},
      {"top 65535/udp", 65535, kUdp, "top"},
      {"ddp 2/ddp", 2, kTcp, nullptr},
      {"echo\t7/tcp", 7, kTcp, nullptr},
      {"ping 8/IcMp", 8, kIcmp, "ping"},
      {"http 80/tcp\r\n", 80, kTcp, "http"},
      {"gopher 70/tcp\n", 70, kTcp, "gopher"},
      {"tab \t12/udp", 12, kUdp, "tab"},       // strtoul skips the tab before the digits
      {"odd 13xyz/tcp", 13, kTcp, "odd"},      // text between digits and '/' is ignored
      {"sign +14/tcp", 14, kTcp, "sign"},
      {"neg -1/tcp", 65535, kTcp, nullptr},    // wraps above 65535 under strtoul
      {"trail 15/tcp\tx", 15, kTcp, nullptr},  // a tab does not end the protocol
      {"a#b 16/tcp", 16, kTcp, "a#b"},
      {"noslash 17 tcp", 17, kTcp, nullptr},
      {"empty 18/", 18, kTcp, nullptr},
      {"word abc/tcp", 0, kTcp, nullptr},
      {"lonely", 0, kTcp, nullptr},
      {"\r\n", 0, kTcp, nullptr},
      {"", 0, kTcp, nullptr},
      {" #notcomment 19/tcp", 19, kTcp, "#notcomment"},
  };
  for (const auto& c : cases) {
    auto table = EmptyTable();
    table.ParseLine(c.line);
    table.SetResolve(1);
    const char* name = table.Lookup(c.port, c.protocol);
    if (c.expectedName == nullptr)
      EXPECT_EQ(name, nullptr) << '"' << c.line << '"';
    else
      EXPECT_STREQ(name, c.expectedName) << '"' << c.line << '"';
  }
}

TEST(ServicesParserTest, SwitchGatesEveryLookup) {
  auto table = EmptyTable();
  table.ParseLine("ssh 22/tcp");
  EXPECT_EQ(table.Lookup(22, kTcp), nullptr) << "off after loading";
  EXPECT_EQ(table.SetResolve(5), 0);
  EXPECT_STREQ(table.Lookup(22, kTcp), "ssh");
  EXPECT_EQ(table.SetResolve(0), 5);
  EXPECT_EQ(table.Lookup(22, kTcp), nullptr);
}

TEST(ServicesParserTest, LoadsAFileWhereTheLaterLineWinsPerProtocol) {
  const ServicesFile file(
      "# test table\n"
      "first 53/tcp\n"
      "\n"
      "domain 53/udp\n"
      "second 53/tcp\r\n"
      "ssh 22/tcp\n");
  CServicesParser table(file.Path());
  table.SetResolve(1);
  const char* second = table.Lookup(53, kTcp);
  EXPECT_STREQ(second, "second");
  EXPECT_STREQ(table.Lookup(53, kUdp), "domain");
  EXPECT_STREQ(table.Lookup(22, kTcp), "ssh");
  EXPECT_EQ(table.Lookup(22, kUdp), nullptr) << "listed for tcp only";
  EXPECT_EQ(table.Lookup(23, kTcp), nullptr);

  table.ParseLine("third 53/tcp");
  EXPECT_STREQ(second, "second") << "a replaced name stays readable";
  EXPECT_STREQ(table.Lookup(53, kTcp), "third");
}

TEST(ServicesParserTest, LoadStartsOverWithTheSwitchOff) {
  const ServicesFile file("ssh 22/tcp\n");
  CServicesParser table(file.Path());
  table.ParseLine("extra 99/tcp");
  table.SetResolve(1);
  EXPECT_EQ(table.Load(), 1);
  EXPECT_EQ(table.Lookup(22, kTcp), nullptr) << "switched off by loading";
  table.SetResolve(1);
  EXPECT_STREQ(table.Lookup(22, kTcp), "ssh");
  EXPECT_EQ(table.Lookup(99, kTcp), nullptr);
}

// Reads stop after 299 characters and the rest of the line arrives as the
// next line. A comment of `prefixLength` characters is followed at once by
// "tail 99/tcp": only what falls after the cut becomes an entry.
TEST(ServicesParserTest, LongLineArrivesAsSeveralLines) {
  const struct {
    std::size_t prefixLength;
    const char* expectedName;
  } cases[] = {
      {298, "ail"},    // the first read takes the 't'
      {299, "tail"},   // the cut falls exactly before the name
      {300, "xtail"},  // one character of the comment spills over
  };
  for (const auto& c : cases) {
    const ServicesFile file("#" + std::string(c.prefixLength - 1, 'x') + "tail 99/tcp\n");
    CServicesParser table(file.Path());
    table.SetResolve(1);
    EXPECT_STREQ(table.Lookup(99, kTcp), c.expectedName) << c.prefixLength;
  }
}

TEST(ServicesParserTest, EmptyOrMissingFileGivesAnEmptyTable) {
  const ServicesFile empty("");
  CServicesParser fromEmpty(empty.Path());
  EXPECT_EQ(fromEmpty.Load(), 1);
  CServicesParser fromMissing("/nonexistent/quorvel/services");
  EXPECT_EQ(fromMissing.Load(), 0);
  for (CServicesParser* table : {&fromEmpty, &fromMissing}) {
    table->SetResolve(1);
    EXPECT_EQ(table->Lookup(22, kTcp), nullptr);
  }
}

TEST(ServicesParserTest, ShippedFileBesideTheExecutableNamesWellKnownPorts) {
  ASSERT_TRUE(std::filesystem::exists(platform::ServicesFilePath()))
      << "the build copies services beside the programs";
  CServicesParser table;
  table.SetResolve(1);
  EXPECT_STREQ(table.Lookup(22, kTcp), "ssh");
  EXPECT_STREQ(table.Lookup(53, kUdp), "domain");
  EXPECT_STREQ(table.Lookup(80, kTcp), "http");
  EXPECT_STREQ(table.Lookup(443, kTcp), "https");
  EXPECT_EQ(table.Lookup(22, kIcmp), nullptr);
}

}  // namespace
