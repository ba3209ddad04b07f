// Which program owns a connection, as the window learns it from the capture
// helper's socket programs (root only; skipped otherwise): attached to a
// cgroup of the test's own, so that they see only the test's programs, on
// the capture end of a veth pair of the test's own. A server and a client
// of the test's are named with their process id, name and user, in both
// families, TCP and UDP both ways, and so is a client that has ended
// 50 ms after it connected, long before anything could look at its sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "process/owner_refresher.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/settings_fixture.h"
#include "support/test_cgroup.h"
#include "table/memory_traffic_display.h"
#include "table/traffic_list.h"
#include "test_network.h"
#include "test_programs.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kServerPort = 8083, kPeerPort = 9003;

class SocketEventsLiveTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    if (!m_cgroup.Unavailable().empty()) GTEST_SKIP() << m_cgroup.Unavailable();
    ASSERT_TRUE(m_network.EnableIpv6());
    Settings().idlemsec = 600000;
    m_list.SetDisplay(&m_display);
  }
  void TearDown() override {
    m_session.StopCapture();
    for (const pid_t program : m_programs) {
      kill(program, SIGKILL);
      waitpid(program, nullptr, 0);
    }
    for (const int peer : m_peers) close(peer);
    m_list.SetDisplay(nullptr);
  }

  std::string CaptureAddress(int family) const { return Text(family, m_network.CaptureAddress(), true); }
  std::string SenderAddress(int family) const { return Text(family, m_network.SenderAddress(), false); }

  // A program of the test's in the capture namespace and the test's cgroup.
  pid_t Start(const char* name, const std::function<bool(std::vector<int>&)>& open,
              const std::function<void(std::vector<int>&)>& serve) {
    pid_t program = -1;
    m_network.InCaptureNamespace([&] {
      program = StartProgram(name, [&](std::vector<int>& sockets) { return m_cgroup.Enter() && open(sockets); }, serve);
    });
    if (program > 0) m_programs.push_back(program);
    return program;
  }

  // The program and user columns of every row, by "protocol port direction family".
  std::map<std::string, std::string> OwnersOfRows() {
    std::lock_guard lock(m_list.TableLock());
    std::map<std::string, std::string> owners;
    for (const MemoryTrafficDisplay::Row& row : m_display.Rows()) {
      const bool out = row.endpoints.source == Address(row.endpoints.source.ipv6, true);
      const std::uint16_t port = ntohs(out ? row.endpoints.destinationPort : row.endpoints.sourcePort);
      const std::uint16_t ours = ntohs(out ? row.endpoints.sourcePort : row.endpoints.destinationPort);
      const std::string key = std::to_string(row.endpoints.protocol) + " " +
                              std::to_string(ours == kServerPort ? kServerPort : port) + (out ? " out " : " in ") +
                              (row.endpoints.source.ipv6 ? "IPv6" : "IPv4");
      owners[key] = row.cells[9] + " / " + row.cells[10];
    }
    return owners;
  }

  TestNetwork m_network;
  TestCgroup m_cgroup;
  CNSCashe m_hostNames;
  CServicesParser m_services{""};
  MemoryTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  std::unique_ptr<COwnerRefresher> m_owners;  // outlives the capture that asks it
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};
  std::vector<pid_t> m_programs;
  std::vector<int> m_peers;

 private:
  std::string Text(int family, std::uint32_t ipv4, bool capture) const {
    if (family == AF_INET6) return capture ? TestNetwork::CaptureAddress6() : TestNetwork::SenderAddress6();
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &ipv4, text, sizeof text);
  }
  IpAddress Address(bool ipv6, bool capture) const {
    std::uint8_t bytes[16] = {};
    inet_pton(ipv6 ? AF_INET6 : AF_INET, Text(ipv6 ? AF_INET6 : AF_INET,
                                              capture ? m_network.CaptureAddress() : m_network.SenderAddress(), capture)
                                             .c_str(),
              bytes);
    std::uint32_t ipv4;
    std::memcpy(&ipv4, bytes, 4);
    return ipv6 ? IpAddress::Ipv6(bytes) : IpAddress::Ipv4(ipv4);
  }
};

TEST_F(SocketEventsLiveTest, NamesTheTestsProgramsEvenOnceTheyEnded) {
  // Made in the capture namespace: it lists that namespace's sockets.
  m_network.InCaptureNamespace([&] { m_owners = std::make_unique<COwnerRefresher>(); });
  m_session.SetOwners(m_owners.get(), m_cgroup.Path());
  int started = 1;
  m_network.InCaptureNamespace([&] { started = m_session.StartCapture(m_network.CaptureInterface().c_str()); });
  ASSERT_EQ(started, 0);
  const auto attached = Clock::now() + std::chrono::seconds(5);
  while (m_owners->Level() != AttributionLevel::kSocketEvents && Clock::now() < attached)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(m_owners->Level(), AttributionLevel::kSocketEvents) << "the helper may attach its programs as root";

  m_network.InSenderNamespace([&] {
    for (const int family : {AF_INET, AF_INET6})
      m_peers.push_back(BoundSocket(family, SOCK_STREAM, SenderAddress(family), kPeerPort));
  });
  const pid_t server = Start(
      "qv-ev-server",
      [&](std::vector<int>& sockets) {
        for (const int family : {AF_INET, AF_INET6})
          for (const int type : {SOCK_STREAM, SOCK_DGRAM})
            sockets.push_back(BoundSocket(family, type, CaptureAddress(family), kServerPort));
        return std::find(sockets.begin(), sockets.end(), -1) == sockets.end();
      },
      Serve);
  ASSERT_GT(server, 0);
  // Connects, says hello and ends within 50 ms.
  const pid_t client = Start(
      "qv-ev-client",
      [&](std::vector<int>& sockets) {
        for (const int family : {AF_INET, AF_INET6}) {
          const int sock = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
          const sockaddr_storage peer = Endpoint(family, SenderAddress(family), kPeerPort);
          if (connect(sock, reinterpret_cast<const sockaddr*>(&peer), SizeOf(peer)) != 0 || send(sock, "hi", 2, 0) != 2)
            return false;
          sockets.push_back(sock);
        }
        return true;
      },
      [](std::vector<int>&) { usleep(30000); });
  ASSERT_GT(client, 0);
  int status = 0;
  ASSERT_EQ(waitpid(client, &status, 0), client);
  m_programs.erase(std::find(m_programs.begin(), m_programs.end(), client));
  m_network.InSenderNamespace([&] { Greet(CaptureAddress(AF_INET), CaptureAddress(AF_INET6), kServerPort); });

  const std::string serverOwner = "qv-ev-server (" + std::to_string(server) + ") / root";
  const std::string clientOwner = "qv-ev-client (" + std::to_string(client) + ") / root";
  std::map<std::string, std::string> expected;
  for (const std::string family : {"IPv4", "IPv6"})
    for (const std::string direction : {" in ", " out "}) {
      expected["6 " + std::to_string(kServerPort) + direction + family] = serverOwner;
      expected["17 " + std::to_string(kServerPort) + direction + family] = serverOwner;
      expected["6 " + std::to_string(kPeerPort) + direction + family] = clientOwner;
    }
  std::map<std::string, std::string> shown;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    shown = OwnersOfRows();
  } while (shown != expected && Clock::now() < deadline);
  EXPECT_EQ(shown, expected);
}

}  // namespace
