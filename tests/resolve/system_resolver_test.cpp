// The system's resolver names an IPv6 address through ip6.arpa. Checked
// against a name server of the test's own, in a child process with mount
// and network namespaces of its own: its /etc/resolv.conf names the server,
// and no question leaves its loopback adapter.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "resolve/ns_cashe.h"
#include "support/address_text.h"
#include "support/child_process.h"
#include "support/dns_question.h"
#include "support/test_folder.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kNamedAddress = "2001:db8::53";
constexpr const char* kNamedQuestion = "3.5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa";
constexpr const char* kUnnamedAddress = "2001:db8::54";
constexpr const char* kName = "v6host.test";

// Answers the PTR question for kNamedQuestion with kName and every other
// question with "no such name"; keeps the names asked for.
class PtrNameServer {
 public:
  explicit PtrNameServer(int socket) : m_socket(socket), m_serving([this] { Serve(); }) {}
  // The names asked for, once the server has stopped.
  std::vector<std::string> Stop() {
    m_stopping = true;
    m_serving.join();
    return m_asked;
  }

 private:
  void Serve() {
    const std::vector<std::uint8_t> name = DnsQuestion::Labels(kName);
    while (!m_stopping) {
      const auto question = DnsQuestion::Receive(m_socket, 50);
      if (!question) continue;
      m_asked.push_back(question->name);
      if (question->name == kNamedQuestion && question->type == DnsQuestion::kPtr)
        question->Answer(m_socket, &name);
      else
        question->Answer(m_socket, nullptr, DnsQuestion::kNoSuchName);
    }
  }

  int m_socket;
  std::atomic<bool> m_stopping{false};
  std::vector<std::string> m_asked;
  std::thread m_serving;
};

// A UDP socket on 127.0.0.1 port 53 of a network namespace of its own.
int NameServerSocket() {
  const int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq loopback{};
  std::strcpy(loopback.ifr_name, "lo");
  if (server < 0 || ioctl(server, SIOCGIFFLAGS, &loopback) != 0) return -1;
  loopback.ifr_flags |= IFF_UP;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (ioctl(server, SIOCSIFFLAGS, &loopback) != 0 || bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
    return -1;
  return server;
}

// In the child: looks both addresses up through the cache and reports, one
// line each, their texts and then the names the server was asked for.
int LookUpInNamespacesOfItsOwn(const std::string& resolverConfiguration, int report) {
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(resolverConfiguration.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
    return 2;
  const int server = NameServerSocket();
  if (server < 0) return 3;
  PtrNameServer nameServer(server);
  std::string texts;
  {
    CNSCashe cache;
    cache.SetResolve(1);
    const IpAddress addresses[] = {ParseAddress(kNamedAddress), ParseAddress(kUnnamedAddress)};
    for (const IpAddress& address : addresses) cache.Lookup(address);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (const IpAddress& address : addresses) {
      while (cache.Find(address) == nullptr && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
      texts += cache.Find(address) != nullptr ? cache.Find(address) : "(no answer)";
      texts += '\n';
    }
  }
  for (const std::string& question : nameServer.Stop()) texts += question + '\n';
  return write(report, texts.data(), texts.size()) == static_cast<ssize_t>(texts.size()) ? 0 : 4;
}

TEST(SystemResolverTest, NamesAnIpv6AddressThroughIp6Arpa) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, for mount and network namespaces of its own";
  TestFolder folder;
  const std::string configuration = (folder.Path() / "resolv.conf").string();
  std::ofstream(configuration) << "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n";
  int report[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  auto child = ChildProcess::Fork([&] {
    close(report[0]);
    return LookUpInNamespacesOfItsOwn(configuration, report[1]);
  });
  close(report[1]);
  std::string text;
  char buffer[512];
  for (ssize_t size; (size = read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size);
  close(report[0]);
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ", report:\n" << text;

  std::istringstream lines(text);
  std::string named, unnamed;
  std::getline(lines, named);
  std::getline(lines, unnamed);
  EXPECT_EQ(named, kName);
  EXPECT_EQ(unnamed, kUnnamedAddress) << "no name: the number, for good";
  std::vector<std::string> asked;
  for (std::string question; std::getline(lines, question);) asked.push_back(question);
  EXPECT_EQ(std::count(asked.begin(), asked.end(), kNamedQuestion), 1) << text;
}

}  // namespace
