#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

// Two network namespaces of the test's own, joined by a veth pair: the
// capture side, where the monitor captures, and the sender side, where the
// test's traffic comes from. Nothing outside the two namespaces ever sees a
// packet, and both vanish when the object is destroyed.
class TestNetwork {
 public:
  // The first network a process makes first removes those of tests that
  // crashed or were killed (RemoveStaleNamespaces).
  TestNetwork();
  ~TestNetwork();
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // Empty when the network is up; otherwise why it could not be made (not
  // root, no network namespaces, no `ip`).
  const std::string& Unavailable() const { return m_unavailable; }

  const std::string& CaptureInterface() const { return m_captureInterface; }
  // Addresses in network byte order.
  std::uint32_t CaptureAddress() const { return m_captureAddress; }
  std::uint32_t SenderAddress() const { return m_senderAddress; }
  // An address on the link that belongs to no interface: frames for it carry
  // a foreign destination MAC, which only a promiscuous capture sees.
  std::uint32_t ForeignAddress() const { return m_foreignAddress; }

  // Gives the pair IPv6 as well, on its own: the capture end CaptureAddress6,
  // the sender end SenderAddress6, each knowing the other's link address,
  // no link-local addresses, router solicitations or duplicate address
  // detection, and the multicast listener reports of the new addresses sent
  // at once, so that the link carries only the test's traffic from here on.
  bool EnableIpv6();
  static constexpr const char* CaptureAddress6() { return "fd00:5157::1"; }
  static constexpr const char* SenderAddress6() { return "fd00:5157::2"; }

  // How many holders keep the capture end in promiscuous mode; -1 when it
  // cannot be read.
  int CapturePromiscuity();

  // Runs `body` with the calling thread inside the capture namespace, so
  // that an adapter opened there is the capture end of the pair.
  template <typename Body>
  void InCaptureNamespace(Body body) {
    InNamespace(m_captureNamespace, body);
  }
  // The same in the sender namespace: a socket or capture made there sees
  // what arrives at the sender end.
  template <typename Body>
  void InSenderNamespace(Body body) {
    InNamespace(m_senderNamespace, body);
  }
  const std::string& SenderInterface() const { return m_senderInterface; }

  // Deletes the capture end of the pair (and so the pair), as if its
  // adapter were unplugged; Restore makes the pair again, as it was.
  bool RemoveCaptureInterface();
  bool RestoreCaptureInterface();
  // Takes the capture end down or brings it up again.
  bool SetCaptureInterfaceUp(bool up);

  // Deletes the namespaces that tests of this project made and left: those
  // named after a process that is no running test of ours. Namespaces of
  // tests running now, in this build or another, stay.
  static void RemoveStaleNamespaces();

  // Sends the raw IPv4 packets (each a whole packet, header included) from
  // the sender namespace, in order, and returns once they are all sent.
  bool Send(const std::vector<std::vector<std::uint8_t>>& packets);
  // A raw IPv4 socket in the sender namespace (the caller writes whole
  // packets, header included, and closes it), for a test that sends at its
  // own pace from a thread of its own. -1 on failure.
  int SenderSocket();
  // Sends the packet again and again from the sender namespace until
  // StopFlood; bounded to a few seconds whatever happens.
  void StartFlood(const std::vector<std::uint8_t>& packet);
  void StopFlood();

 private:
  static bool Run(const std::string& command);
  bool MakeLink();
  template <typename Body>
  void InNamespace(const std::string& name, Body body) {
    EnterNamespace(name);
    struct Leave {
      TestNetwork& network;
      ~Leave() { network.LeaveNamespace(); }
    } leave{*this};
    body();
  }
  void EnterNamespace(const std::string& name);
  void LeaveNamespace();

  std::string m_unavailable;
  std::string m_captureNamespace;
  std::string m_senderNamespace;
  std::string m_captureInterface;
  std::string m_senderInterface;
  std::string m_subnet;  // "10.231.N."
  std::uint32_t m_captureAddress = 0;
  std::uint32_t m_senderAddress = 0;
  std::uint32_t m_foreignAddress = 0;
  int m_originalNamespace = -1;
  int m_floodPid = -1;
};

// An IPv4 packet as it leaves the sender: header and payload, with the
// transport checksums left wrong on purpose for TCP and UDP, so that the
// capture side's kernel drops them quietly instead of answering.
std::vector<std::uint8_t> RawPacket(std::uint8_t protocol, std::uint32_t source, std::uint32_t destination,
                                    std::uint16_t sourcePort, std::uint16_t destinationPort,
                                    std::uint16_t totalLength);
// An ICMP echo request with a correct checksum: the capture side answers it.
std::vector<std::uint8_t> EchoRequest(std::uint32_t source, std::uint32_t destination, std::uint16_t totalLength);

// A socket address of either family, from the address's text.
inline sockaddr_storage Endpoint(int family, const std::string& address, std::uint16_t port) {
  sockaddr_storage endpoint{};
  if (family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&endpoint);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&endpoint);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &in->sin_addr);
  }
  return endpoint;
}

inline socklen_t SizeOf(const sockaddr_storage& endpoint) {
  return endpoint.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}
