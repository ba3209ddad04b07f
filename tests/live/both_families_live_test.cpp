// Real IPv6 and fragmented traffic of both families between the two ends
// of a veth pair the test makes (root only; skipped otherwise), counted by
// the monitor and, at the same time on the same interface, by tcpdump into
// a file that the tests' own count reads (support/flow_count.h): the rows
// must agree to the byte.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "packet/ip_address.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/flow_count.h"
#include "support/program_run.h"
#include "support/settings_fixture.h"
#include "table/counting_traffic_display.h"
#include "table/traffic_list.h"
#include "test_network.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kTcpPort = 8080, kEchoPort = 7, kSenderPort = 40007;

bool OnPath(const std::string& program) {
  std::istringstream folders(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Waits for the child for at most `seconds`, then kills it: true when it
// ended by itself with exit code 0.
bool Reap(pid_t child, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts the program in the calling thread's namespace, its output into
// the files named ("/dev/null" for none).
pid_t Spawn(std::vector<std::string> arguments, const std::string& out, const std::string& errors) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errorsFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dup2(outFd, STDOUT_FILENO) < 0 || dup2(errorsFd, STDERR_FILENO) < 0) _exit(120);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// A socket that gives up on a peer that says nothing for two seconds.
int PatientSocket(int family, int type) {
  const int sock = socket(family, type | SOCK_CLOEXEC, 0);
  const timeval patience{2, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  return sock;
}

// One line of the rows' CSV, split at its commas.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream text(line);
  for (std::string field; std::getline(text, field, ',');) fields.push_back(field);
  return fields;
}

std::vector<std::string> Lines(const std::string& csv) {
  std::vector<std::string> lines;
  std::istringstream text(csv);
  std::string line;
  std::getline(text, line);  // the header
  while (std::getline(text, line)) lines.push_back(line);
  return lines;
}

class BothFamiliesLiveTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    if (!OnPath("tcpdump") || !OnPath("ping"))
      GTEST_SKIP() << "tcpdump and ping are needed to capture and make the traffic (scripts/test installs them)";
    ASSERT_TRUE(m_network.EnableIpv6());
    Settings().idlemsec = 600000;
    m_list.SetDisplay(&m_display);
  }
  void TearDown() override {
    if (m_tcpdump > 0) Reap(m_tcpdump, 0);
    m_session.StopCapture();
  }

  // tcpdump and the monitor both capture the capture end once this returns.
  void StartCaptures() {
    const std::string errors = (Folder() / "tcpdump.txt").string();
    m_network.InCaptureNamespace([&] {
      m_tcpdump = Spawn({"tcpdump", "-i", m_network.CaptureInterface(), "-w", TcpdumpFile(), "-U",
                         "--immediate-mode", "-Z", "root", "-nn"},
                        "/dev/null", errors);
    });
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (ReadWholeText(errors).find("listening on") == std::string::npos) {
      ASSERT_LT(Clock::now(), deadline) << ReadWholeText(errors);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int result = -1;
    m_network.InCaptureNamespace([&] { result = m_session.StartCapture(m_network.CaptureInterface().c_str()); });
    ASSERT_EQ(result, 0);
  }

  // Ends tcpdump once the traffic has settled, and returns its file's rows
  // as the tests' own count makes them; the monitor's rows are then given
  // the time to catch up with them.
  std::string StopCaptures() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last acknowledgements
    kill(m_tcpdump, SIGINT);
    EXPECT_TRUE(Reap(m_tcpdump, 5)) << "tcpdump ends on SIGINT";
    m_tcpdump = -1;
    m_tcpdumpReport = ReadWholeText((Folder() / "tcpdump.txt").string());
    FlowCount count;
    std::string error;
    EXPECT_TRUE(count.ReadFile(TcpdumpFile(), error)) << error;
    EXPECT_EQ(count.LengthsUnlikeTheFrame(), 0u) << "a packet's length is its frame's";
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (CountedPackets() < count.Packets() && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // so that a packet too many would show
    return count.Csv();
  }

  // The monitor's table as quorvel-replay prints it.
  std::string MonitorRows() {
    std::lock_guard lock(m_list.TableLock());
    std::string csv = "src,sport,dst,dport,proto,bytes,packets\n";
    char source[IpAddress::kTextSize], destination[IpAddress::kTextSize];
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
      const TrafficEntry& entry = m_list.Entry(i);
      const ConnectionEndpoints endpoints = m_list.EndpointsOf(entry.key);
      csv += std::string(FormatIpAddress(endpoints.source, source)) + "," +
             std::to_string(ntohs(endpoints.sourcePort)) + "," + FormatIpAddress(endpoints.destination, destination) +
             "," + std::to_string(ntohs(endpoints.destinationPort)) + "," + std::to_string(entry.key.protocol) + "," +
             std::to_string(entry.bytes) + "," + std::to_string(entry.packets) + "\n";
    }
    return csv;
  }

  std::string CaptureAddress(int family) const {
    if (family == AF_INET6) return TestNetwork::CaptureAddress6();
    char text[INET_ADDRSTRLEN];
    const std::uint32_t address = m_network.CaptureAddress();
    return inet_ntop(AF_INET, &address, text, sizeof text);
  }
  std::string SenderAddress(int family) const {
    if (family == AF_INET6) return TestNetwork::SenderAddress6();
    char text[INET_ADDRSTRLEN];
    const std::uint32_t address = m_network.SenderAddress();
    return inet_ntop(AF_INET, &address, text, sizeof text);
  }

  // One echo request from the sender end, of `size` data bytes.
  void Ping(int family, int size) {
    pid_t ping = -1;
    m_network.InSenderNamespace([&] {
      ping = Spawn({"ping", family == AF_INET6 ? "-6" : "-4", "-c", "1", "-W", "2", "-s", std::to_string(size),
                    CaptureAddress(family)},
                   "/dev/null", "/dev/null");
    });
    EXPECT_TRUE(Reap(ping, 5)) << "answered";
  }

  // A TCP connection from the sender end: `up` bytes to the capture end,
  // which answers with `down` bytes once it has them all; both then close.
  void TcpTransfer(int family, std::size_t up, std::size_t down) {
    int listener = -1, client = -1;
    const sockaddr_storage server = Endpoint(family, CaptureAddress(family), kTcpPort);
    m_network.InCaptureNamespace([&] { listener = PatientSocket(family, SOCK_STREAM); });
    m_network.InSenderNamespace([&] { client = PatientSocket(family, SOCK_STREAM); });
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&server), SizeOf(server)), 0) << strerror(errno);
    ASSERT_EQ(listen(listener, 1), 0);
    std::size_t received = 0, answered = 0;
    std::thread serving([&] {
      const int peer = accept(listener, nullptr, nullptr);
      if (peer < 0) return;
      received = Drain(peer);
      answered = Pour(peer, down);
      close(peer);
    });
    const bool connected = connect(client, reinterpret_cast<const sockaddr*>(&server), SizeOf(server)) == 0;
    if (connected) {
      EXPECT_EQ(Pour(client, up), up);
      shutdown(client, SHUT_WR);
      EXPECT_EQ(Drain(client), down);
    }
    close(client);
    serving.join();
    close(listener);
    ASSERT_TRUE(connected) << strerror(errno);
    EXPECT_EQ(received, up);
    EXPECT_EQ(answered, down);
  }

  // Datagrams of the sizes given from the sender end's kSenderPort to the
  // capture end's echo port, each sent back as it came.
  void UdpEcho(int family, const std::vector<std::size_t>& sizes) {
    int echo = -1, sender = -1;
    const sockaddr_storage echoAt = Endpoint(family, CaptureAddress(family), kEchoPort);
    const sockaddr_storage senderAt = Endpoint(family, SenderAddress(family), kSenderPort);
    m_network.InCaptureNamespace([&] { echo = PatientSocket(family, SOCK_DGRAM); });
    m_network.InSenderNamespace([&] { sender = PatientSocket(family, SOCK_DGRAM); });
    ASSERT_EQ(bind(echo, reinterpret_cast<const sockaddr*>(&echoAt), SizeOf(echoAt)), 0) << strerror(errno);
    ASSERT_EQ(bind(sender, reinterpret_cast<const sockaddr*>(&senderAt), SizeOf(senderAt)), 0) << strerror(errno);
    std::vector<char> buffer(65536, 'q');
    for (const std::size_t size : sizes) {
      SCOPED_TRACE(size);
      EXPECT_EQ(sendto(sender, buffer.data(), size, 0, reinterpret_cast<const sockaddr*>(&echoAt), SizeOf(echoAt)),
                static_cast<ssize_t>(size));
      sockaddr_storage from{};
      socklen_t fromSize = sizeof from;
      const ssize_t got = recvfrom(echo, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
      ASSERT_EQ(got, static_cast<ssize_t>(size));
      EXPECT_EQ(sendto(echo, buffer.data(), size, 0, reinterpret_cast<const sockaddr*>(&from), fromSize), got);
      EXPECT_EQ(recv(sender, buffer.data(), buffer.size(), 0), got);
    }
    close(echo);
    close(sender);
  }

  TestNetwork m_network;
  CNSCashe m_hostNames;
  CServicesParser m_services{(Folder() / "none").string()};
  CountingTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};

 private:
  std::string TcpdumpFile() const { return (Folder() / "tcpdump.pcap").string(); }
  std::uint64_t CountedPackets() {
    std::lock_guard lock(m_list.TableLock());
    std::uint64_t packets = 0;
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) packets += m_list.Entry(i).packets;
    return packets;
  }
  static std::size_t Drain(int sock) {
    char buffer[65536];
    std::size_t total = 0;
    for (ssize_t got; (got = recv(sock, buffer, sizeof buffer, 0)) > 0;) total += static_cast<std::size_t>(got);
    return total;
  }
  static std::size_t Pour(int sock, std::size_t bytes) {
    const std::vector<char> data(65536, 'v');
    std::size_t sent = 0;
    while (sent < bytes) {
      const ssize_t put = send(sock, data.data(), std::min(data.size(), bytes - sent), MSG_NOSIGNAL);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
    return sent;
  }


 protected:
  // What tcpdump said at its end, its counts among it: a tcpdump that lost
  // packets on a loaded machine is no measure of the monitor.
  bool TcpdumpLostPackets() const {
    const std::size_t at = m_tcpdumpReport.find(" packets dropped by kernel");
    if (at == std::string::npos) return false;
    const std::size_t start = m_tcpdumpReport.find_last_of('\n', at);
    return std::strtoull(m_tcpdumpReport.c_str() + (start == std::string::npos ? 0 : start + 1), nullptr, 10) != 0;
  }

  pid_t m_tcpdump = -1;
  std::string m_tcpdumpReport;
};

// A TCP transfer both ways, datagrams (one empty: not longer than its
// assumed header) and an echo request, all over IPv6: one row per
// direction of each, every packet that tcpdump saw in it.
TEST_F(BothFamiliesLiveTest, Ipv6ConnectionsCountAsTcpdumpSeesThem) {
  StartCaptures();
  TcpTransfer(AF_INET6, 300000, 20000);
  UdpEcho(AF_INET6, {0, 1, 100, 1200});
  Ping(AF_INET6, 56);
  const std::string seen = StopCaptures();
  if (TcpdumpLostPackets()) GTEST_SKIP() << "tcpdump lost packets, so its count is no measure: " << m_tcpdumpReport;
  EXPECT_EQ(MonitorRows(), seen) << "tcpdump said: " << m_tcpdumpReport;

  std::multiset<std::string> protocols;
  for (const std::string& line : Lines(seen)) {
    const auto fields = Fields(line);
    ASSERT_EQ(fields.size(), 7u) << line;
    EXPECT_EQ(std::set<std::string>({fields[0], fields[2]}),
              std::set<std::string>({TestNetwork::CaptureAddress6(), TestNetwork::SenderAddress6()}))
        << "only the test's traffic: " << line;
    protocols.insert(fields[4]);
  }
  EXPECT_EQ(protocols, std::multiset<std::string>({"6", "6", "17", "17", "58", "58"})) << seen;

  // The rows from the capture end's own address are what it sent.
  std::lock_guard lock(m_list.TableLock());
  std::uint64_t fromCaptureEnd = 0;
  char source[IpAddress::kTextSize];
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
    const TrafficEntry& entry = m_list.Entry(i);
    const std::string from = FormatIpAddress(m_list.EndpointsOf(entry.key).source, source);
    EXPECT_EQ(entry.sent, from == TestNetwork::CaptureAddress6()) << from;
    if (entry.sent) fromCaptureEnd += entry.bytes;
  }
  EXPECT_GT(fromCaptureEnd, 0u);
  EXPECT_EQ(m_list.Totals().sentBytes, fromCaptureEnd);
}

// A datagram of 4000 bytes leaves in three fragments, of which only the
// first carries the ports: an echo request of each family, and a UDP
// datagram sent back as it came, make one row per direction, each with all
// three fragments, and no row of ports read from the payload.
TEST_F(BothFamiliesLiveTest, FragmentedDatagramsOfBothFamiliesMakeOneRowPairEach) {
  StartCaptures();
  Ping(AF_INET, 4000);
  Ping(AF_INET6, 4000);
  UdpEcho(AF_INET, {4000});
  UdpEcho(AF_INET6, {4000});
  const std::string seen = StopCaptures();
  if (TcpdumpLostPackets()) GTEST_SKIP() << "tcpdump lost packets, so its count is no measure: " << m_tcpdumpReport;
  EXPECT_EQ(MonitorRows(), seen) << "tcpdump said: " << m_tcpdumpReport;

  // source port (ICMP's type and code), protocol: one row each
  const std::multiset<std::string> expected = {
      "2048,1",  "0,1",  // echo request, echo reply
      "32768,58", "33024,58",
      "40007,17", "7,17", "40007,17", "7,17",
  };
  std::multiset<std::string> rows;
  for (const std::string& line : Lines(seen)) {
    const auto fields = Fields(line);
    ASSERT_EQ(fields.size(), 7u) << line;
    rows.insert(fields[1] + "," + fields[4]);
    EXPECT_EQ(fields[6], "3") << line;
  }
  EXPECT_EQ(rows, expected) << seen;
}

}  // namespace
