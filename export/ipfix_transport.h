#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class IpfixProtocol { kUdp, kTcp };

// "udp" or "tcp"; nullopt for any other word.
std::optional<IpfixProtocol> IpfixProtocolNamed(std::string_view name);

// Where the records go: one address of the collector, found once before
// the export starts.
struct IpfixCollector {
  sockaddr_storage address{};
  socklen_t length = 0;
  IpfixProtocol protocol = IpfixProtocol::kUdp;

  bool Ipv6() const { return address.ss_family == AF_INET6; }
};

// "HOST:PORT", or "[IPV6]:PORT" for a literal IPv6 address; a host name
// is looked up (the caller does so before any capture runs). On failure,
// nullopt and `error` says why.
std::optional<IpfixCollector> ResolveIpfixCollector(std::string_view text, IpfixProtocol protocol,
                                                    std::string& error);

// The largest IPFIX message that crosses a path of `mtu` bytes to the
// collector in one datagram: the IP and UDP headers taken off.
std::size_t LargestDatagramMessage(const IpfixCollector& collector, std::size_t mtu);

// A socket to the collector. UDP sends each message as one datagram; TCP
// sends the stream of messages and connects again, at most once a second,
// when the connection broke. Sends wait at most a few seconds.
class IpfixSocket {
 public:
  explicit IpfixSocket(const IpfixCollector& collector) : m_collector(collector) {}
  ~IpfixSocket();
  IpfixSocket(const IpfixSocket&) = delete;
  IpfixSocket& operator=(const IpfixSocket&) = delete;

  // Whether a connection is there to send on, connecting when none is;
  // `newSession`: it is a new one, which must begin with the templates.
  bool Ready(bool& newSession);
  // False when the message was not sent whole; a TCP connection is then
  // given up.
  bool Send(const std::uint8_t* data, std::size_t size);
  // The text of the last failure, empty when none.
  const std::string& LastError() const { return m_lastError; }
  // Ends the session: a TCP collector sees the stream end.
  void Close();

 private:
  const IpfixCollector m_collector;
  int m_fd = -1;
  std::int64_t m_lastAttemptMs = 0;
  std::string m_lastError;
};
