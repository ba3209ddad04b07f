// Filters that take long to compile never hold up quorvel-capture: the
// capture, its counts and its commands go on meanwhile.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "helper_run.h"
#include "support/dns_question.h"
#include "support/slow_filter.h"

namespace {

using Clock = std::chrono::steady_clock;

// A name server on the capture side: one that takes every question and
// never answers, or one that answers every question for an IPv4 address
// with `address` (and those for others with none).
class NameServer {
 public:
  NameServer(TestNetwork& network, bool answers, std::uint32_t address) : m_address(address) {
    // Asked at an address of the capture side's own, over its loopback
    // adapter, which is down in a new namespace: no question crosses the
    // link the helper captures.
    network.InCaptureNamespace([this] {
      m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      ifreq loopback{};
      std::strcpy(loopback.ifr_name, "lo");
      ioctl(m_socket, SIOCGIFFLAGS, &loopback);
      loopback.ifr_flags |= IFF_UP;
      ioctl(m_socket, SIOCSIFFLAGS, &loopback);
    });
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = network.CaptureAddress();
    EXPECT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    if (answers) m_answering = std::thread([this] { Answer(); });
  }
  ~NameServer() {
    m_stopping = true;
    if (m_answering.joinable()) m_answering.join();
    close(m_socket);
  }

 private:
  void Answer() {
    const auto* address = reinterpret_cast<const std::uint8_t*>(&m_address);
    const std::vector<std::uint8_t> record(address, address + 4);
    while (!m_stopping)
      if (const auto question = DnsQuestion::Receive(m_socket, 50))
        question->Answer(m_socket, question->type == DnsQuestion::kA ? &record : nullptr);
  }

  std::uint32_t m_address;
  int m_socket = -1;
  std::atomic<bool> m_stopping{false};
  std::thread m_answering;
};

class CaptureHelperFilterTest : public CaptureHelperFixture {
 protected:
  // The file that makes the helper ask the test's name server, patiently.
  std::string ResolverConfiguration() {
    char text[INET_ADDRSTRLEN] = {};
    const std::uint32_t address = m_network.CaptureAddress();
    inet_ntop(AF_INET, &address, text, sizeof text);
    const std::string file = (Folder() / "resolv.conf").string();
    std::ofstream(file) << "nameserver " << text << "\noptions timeout:30 attempts:1\n";
    return file;
  }
};

// While it compiles, frames are captured with the filter before it and the
// counts come; it is refused once its time is up, and the next filter works.
// A stop while one compiles ends the capture at once, the filter refused.
TEST_F(CaptureHelperFilterTest, SlowFiltersHoldNothingUp) {
  const NameServer silent(m_network, false, 0);
  const std::string resolver = ResolverConfiguration();
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

// Host names are looked up as the filter compiles, through the name
// server the system names: the helper's confinement leaves that possible.
TEST_F(CaptureHelperFilterTest, AHostFilterIsLookedUpAndInForce) {
  const NameServer answering(m_network, true, m_network.SenderAddress());
  auto helper = Run({.arguments = OnTestLink(), .resolverConfigurationFile = ResolverConfiguration()});
  ASSERT_EQ(helper->NextReport(), "opened");
  helper->Send("filter udp and host foo.example\n");
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");
  ASSERT_TRUE(m_network.Send(
      {RawPacket(IPPROTO_UDP, m_network.ForeignAddress(), m_network.CaptureAddress(), 1000, 7, 200),
       RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1000, 7, 300)}));
  EXPECT_TRUE(OutputReaches(kFileHeader + kRecordHeader + 14 + 300));
  helper->Send("stop\n");
  EXPECT_EQ(helper->WaitForExit(), 0);
  EXPECT_EQ(FramesInOutput(), std::vector<unsigned>{14 + 300});
}

}  // namespace
