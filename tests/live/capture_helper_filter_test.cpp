// Filters that take long to compile never hold up quorvel-capture: the
// capture, its counts and its commands go on meanwhile.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "helper_run.h"
#include "support/slow_filter.h"

namespace {

using Clock = std::chrono::steady_clock;

class CaptureHelperFilterTest : public CaptureHelperFixture {
 protected:
  void TearDown() override {
    if (m_nameServer >= 0) close(m_nameServer);
  }

  // A name server on the capture side that takes every question and never
  // answers; the file that makes the helper ask it, patiently.
  std::string SilentNameServer() {
    m_network.InCaptureNamespace([this] { m_nameServer = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = m_network.CaptureAddress();
    EXPECT_EQ(bind(m_nameServer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    const std::string file = (Folder() / "resolv.conf").string();
    std::ofstream(file) << "nameserver " << text << "\noptions timeout:30 attempts:1\n";
    return file;
  }

  int m_nameServer = -1;
};

bool IsStats(const std::string& line) { return line.rfind("stats ", 0) == 0; }

// While it compiles, frames are captured with the filter before it and the
// counts come; it is refused once its time is up, and the next filter works.
// A stop while one compiles ends the capture at once, the filter refused.
TEST_F(CaptureHelperFilterTest, SlowFiltersHoldNothingUp) {
  const std::string resolver = SilentNameServer();
  const struct {
    const char* name;
    std::string expression;
  } cases[] = {
      {"thousands of alternatives", ManyPortsFilter(2400)},
      {"a host whose name server never answers", "host foo.example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto helper = Run({.arguments = OnTestLink({"--filter-timeout=1500"}), .resolverConfigurationFile = resolver});
    ASSERT_EQ(helper->NextReport(), "opened");
    const auto requested = Clock::now();
    helper->Send("filter " + c.expression + "\n");
    ASSERT_TRUE(SendUdp(7, 100));
    EXPECT_TRUE(OutputReaches(kFileHeader + kRecordHeader + 14 + 100)) << "captured meanwhile";
    EXPECT_TRUE(IsStats(helper->NextReport())) << "counted meanwhile";
    EXPECT_EQ(helper->NextReportBut("stats"), "filter-failed filter took longer than 1500 ms to compile");
    EXPECT_GE(Clock::now() - requested, std::chrono::milliseconds(1400));
    helper->Send("filter udp port 9\n");
    EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");

    helper->Send("filter " + c.expression + "\nstop\n");
    const auto stopped = Clock::now();
    EXPECT_EQ(helper->WaitForExit(), 0);
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(1));
    const std::vector<std::string> reports = helper->RemainingReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(IsStats(reports.back())) << reports.back();
    std::vector<std::string> replies;
    std::copy_if(reports.begin(), reports.end(), std::back_inserter(replies), [](auto& line) { return !IsStats(line); });
    EXPECT_EQ(replies, std::vector<std::string>{"filter-failed the capture stopped first"});
    EXPECT_EQ(FramesInOutput(), std::vector<unsigned>{14 + 100});
  }
}

}  // namespace
