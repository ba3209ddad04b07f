#include "test_network.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/ip_packet.h"
#include "support/test_processes.h"

namespace {

std::atomic<int> g_networks{0};

constexpr const char* kNamespacePrefixes[] = {"qvcap-", "qvsnd-"};

std::uint32_t Address(int a, int b, int c, int d) {
  return htonl(static_cast<std::uint32_t>(a << 24 | b << 16 | c << 8 | d));
}

int OpenNamespace(const std::string& name) {
  return open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
}

// Runs in a forked child: only plain system calls from here on.
void SendAll(int namespaceFd, const std::vector<std::vector<std::uint8_t>>& packets, bool endlessly) {
  if (setns(namespaceFd, CLONE_NEWNET) != 0) _exit(2);
  const int sock = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (sock < 0) _exit(3);
  do {
    for (const auto& packet : packets) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      std::memcpy(&to.sin_addr, &packet[16], 4);
      if (sendto(sock, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0 &&
          !endlessly)
        _exit(4);
    }
  } while (endlessly);
  _exit(0);
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace

void TestNetwork::RemoveStaleNamespaces() {
  // The namespaces first, then the tests that run: a test that starts in
  // between makes its namespaces too late to be taken for stale.
  DIR* folder = opendir("/run/netns");
  if (folder == nullptr) return;
  std::vector<std::pair<std::string, long>> named;
  while (const dirent* item = readdir(folder)) {
    for (const char* prefix : kNamespacePrefixes) {
      const long maker = test_processes::MakerOf(item->d_name, prefix);
      if (maker > 0) named.emplace_back(item->d_name, maker);
    }
  }
  closedir(folder);
  const auto running = test_processes::RunningTests();
  for (const auto& [name, maker] : named)
    if (!test_processes::MakerMayRun(running, maker)) Run("ip netns delete " + name + " 2>/dev/null");
}

TestNetwork::TestNetwork() {
  if (geteuid() != 0) {
    m_unavailable = "live capture tests need root (to make network namespaces and capture)";
    return;
  }
  static const bool staleRemoved = (RemoveStaleNamespaces(), true);
  (void)staleRemoved;
  const int n = ++g_networks;
  // The whole process id: the namespaces of a test that is gone are told
  // by it. Interface names stay within their 15 characters.
  const std::string id = std::to_string(getpid()) + "-" + std::to_string(n);
  m_captureNamespace = "qvcap-" + id;
  m_senderNamespace = "qvsnd-" + id;
  m_captureInterface = "qvc" + id;
  m_senderInterface = "qvs" + id;
  const int subnet = 100 + (getpid() + n) % 100;
  m_captureAddress = Address(10, 231, subnet, 1);
  m_senderAddress = Address(10, 231, subnet, 2);
  m_foreignAddress = Address(10, 231, subnet, 9);
  m_subnet = "10.231." + std::to_string(subnet) + ".";
  const bool made = Run("ip netns add " + m_captureNamespace) && Run("ip netns add " + m_senderNamespace) && MakeLink();
  if (!made) m_unavailable = "could not make a network namespace with a veth pair (see the ip messages above)";
}

// The veth pair, its addresses and its neighbours, in the two namespaces.
bool TestNetwork::MakeLink() {
  const std::string& net = m_subnet;
  const std::string inCapture = "ip netns exec " + m_captureNamespace + " ";
  const std::string inSender = "ip netns exec " + m_senderNamespace + " ";
  return Run("ip link add " + m_captureInterface + " netns " + m_captureNamespace +
             " address 02:00:00:00:00:01 type veth peer name " + m_senderInterface + " netns " +
             m_senderNamespace + " address 02:00:00:00:00:02") &&
         // Only the test's own packets: no IPv6 chatter, no multicast reports.
         Run(inCapture + "sysctl -qw net.ipv6.conf.all.disable_ipv6=1") &&
         Run(inSender + "sysctl -qw net.ipv6.conf.all.disable_ipv6=1") &&
         Run(inCapture + "ip link set " + m_captureInterface + " multicast off up") &&
         Run(inSender + "ip link set " + m_senderInterface + " multicast off up") &&
         Run(inCapture + "ip addr add " + net + "1/24 dev " + m_captureInterface) &&
         Run(inSender + "ip addr add " + net + "2/24 dev " + m_senderInterface) &&
         // Neighbours known in advance: no ARP to wait for, and a foreign MAC.
         Run(inSender + "ip neigh replace " + net + "1 lladdr 02:00:00:00:00:01 dev " + m_senderInterface) &&
         Run(inCapture + "ip neigh replace " + net + "2 lladdr 02:00:00:00:00:02 dev " + m_captureInterface) &&
         Run(inSender + "ip neigh replace " + net + "9 lladdr 02:00:00:00:00:99 dev " + m_senderInterface);
}

bool TestNetwork::EnableIpv6() {
  const struct {
    const std::string& space;
    const std::string& interface;
    const char* address;
    const char* neighbour;
    const char* neighbourMac;
  } ends[] = {
      {m_captureNamespace, m_captureInterface, CaptureAddress6(), SenderAddress6(), "02:00:00:00:00:02"},
      {m_senderNamespace, m_senderInterface, SenderAddress6(), CaptureAddress6(), "02:00:00:00:00:01"},
  };
  for (const auto& end : ends) {
    const std::string in = "ip netns exec " + end.space + " ";
    const std::string conf = "net.ipv6.conf." + end.interface + ".";
    const bool made = Run(in + "sysctl -qw " + conf + "addr_gen_mode=1 " + conf + "accept_ra=0 " + conf +
                          "router_solicitations=0 " + conf + "accept_dad=0 " + conf +
                          "mldv2_unsolicited_report_interval=1 " + conf + "mldv1_unsolicited_report_interval=1") &&
                      Run(in + "sysctl -qw " + conf + "disable_ipv6=0") &&
                      Run(in + "ip -6 addr add " + end.address + "/64 dev " + end.interface + " nodad") &&
                      Run(in + "ip -6 neigh replace " + end.neighbour + " lladdr " + end.neighbourMac + " dev " +
                          end.interface);
    if (!made) return false;
  }
  // The reports of the new addresses' groups go out within milliseconds.
  usleep(50000);
  return true;
}

TestNetwork::~TestNetwork() {
  StopFlood();
  if (!m_captureNamespace.empty()) Run("ip netns delete " + m_captureNamespace + " 2>/dev/null");
  if (!m_senderNamespace.empty()) Run("ip netns delete " + m_senderNamespace + " 2>/dev/null");
}

bool TestNetwork::Run(const std::string& command) { return std::system((command + " >/dev/null").c_str()) == 0; }

int TestNetwork::CapturePromiscuity() {
  const std::string command = "ip -n " + m_captureNamespace + " -d link show " + m_captureInterface;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[512];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  pclose(pipe);
  const auto at = text.find("promiscuity ");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 12);
}

bool TestNetwork::RemoveCaptureInterface() {
  return Run("ip -n " + m_captureNamespace + " link delete " + m_captureInterface);
}

bool TestNetwork::RestoreCaptureInterface() { return MakeLink(); }

bool TestNetwork::SetCaptureInterfaceUp(bool up) {
  return Run("ip -n " + m_captureNamespace + " link set " + m_captureInterface + (up ? " up" : " down"));
}

void TestNetwork::EnterNamespace(const std::string& name) {
  m_originalNamespace = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = OpenNamespace(name);
  setns(target, CLONE_NEWNET);
  close(target);
}

void TestNetwork::LeaveNamespace() {
  setns(m_originalNamespace, CLONE_NEWNET);
  close(m_originalNamespace);
  m_originalNamespace = -1;
}

// A socket stays in the namespace it was made in, whichever namespace the
// thread that uses it is in.
int TestNetwork::SenderSocket() {
  const int original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = OpenNamespace(m_senderNamespace);
  int sock = -1;
  if (original >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0) {
    sock = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    setns(original, CLONE_NEWNET);
  }
  if (target >= 0) close(target);
  if (original >= 0) close(original);
  return sock;
}

bool TestNetwork::Send(const std::vector<std::vector<std::uint8_t>>& packets) {
  const int target = OpenNamespace(m_senderNamespace);
  if (target < 0) return false;
  const pid_t child = fork();
  if (child == 0) SendAll(target, packets, false);
  close(target);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void TestNetwork::StartFlood(const std::vector<std::uint8_t>& packet) {
  const int target = OpenNamespace(m_senderNamespace);
  const pid_t child = fork();
  if (child == 0) {
    alarm(10);  // a flood nobody stops ends by itself
    SendAll(target, {packet}, true);
  }
  close(target);
  m_floodPid = child;
}

void TestNetwork::StopFlood() {
  if (m_floodPid <= 0) return;
  kill(m_floodPid, SIGKILL);
  waitpid(m_floodPid, nullptr, 0);
  m_floodPid = -1;
}

std::vector<std::uint8_t> RawPacket(std::uint8_t protocol, std::uint32_t source, std::uint32_t destination,
                                    std::uint16_t sourcePort, std::uint16_t destinationPort,
                                    std::uint16_t totalLength) {
  IpPacket ip;
  ip.protocol = protocol;
  ip.source = ntohl(source);
  ip.destination = ntohl(destination);
  ip.sourcePort = sourcePort;
  ip.destinationPort = destinationPort;
  ip.totalLength = totalLength;
  std::vector<std::uint8_t> packet = ip.Bytes();
  if (protocol == IPPROTO_TCP && totalLength >= 40) {
    packet[32] = 0x50;  // data offset: 20 bytes
    packet[33] = 0x18;  // PSH, ACK
    packet[36] = 0xDE;  // wrong checksum
  }
  if (protocol == IPPROTO_UDP && totalLength >= 28) {
    packet[24] = static_cast<std::uint8_t>((totalLength - 20) >> 8);
    packet[25] = static_cast<std::uint8_t>(totalLength - 20);
    packet[26] = 0xDE;  // wrong checksum
    packet[27] = 0xAD;
  }
  return packet;
}

std::vector<std::uint8_t> EchoRequest(std::uint32_t source, std::uint32_t destination, std::uint16_t totalLength) {
  std::vector<std::uint8_t> packet = RawPacket(IPPROTO_ICMP, source, destination, 0x0800, 0, totalLength);
  packet[24] = packet[25] = 0;  // identifier
  packet[26] = 0;
  packet[27] = 1;  // sequence
  const std::uint16_t sum = Checksum(&packet[20], totalLength - 20u);
  packet[22] = static_cast<std::uint8_t>(sum >> 8);
  packet[23] = static_cast<std::uint8_t>(sum);
  return packet;
}
