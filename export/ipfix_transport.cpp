#include "export/ipfix_transport.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/wall_clock.h"
#include "text/whole_number.h"

namespace {

constexpr std::size_t kIpv4Header = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kUdpHeader = 8;
constexpr int kSendTimeoutSeconds = 5;
constexpr std::int64_t kReconnectPauseMs = 1000;

std::string ErrorText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::optional<IpfixProtocol> IpfixProtocolNamed(std::string_view name) {
  if (name == "udp") return IpfixProtocol::kUdp;
  if (name == "tcp") return IpfixProtocol::kTcp;
  return std::nullopt;
}

std::optional<IpfixCollector> ResolveIpfixCollector(std::string_view text, IpfixProtocol protocol,
                                                    std::string& error) {
  std::string host, port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || text.substr(close + 1, 1) != ":") {
      error = "expected [ADDRESS]:PORT";
      return std::nullopt;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.find(':') != colon) {
      error = "expected HOST:PORT (an IPv6 address in brackets)";
      return std::nullopt;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.empty() || !ParseWholeNumber(port, 1, 65535)) {
    error = "expected HOST:PORT with a port number from 1 to 65535";
    return std::nullopt;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = protocol == IpfixProtocol::kUdp ? SOCK_DGRAM : SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  if (const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); status != 0) {
    error = host + ": " + gai_strerror(status);
    return std::nullopt;
  }
  IpfixCollector collector;
  collector.protocol = protocol;
  std::memcpy(&collector.address, found->ai_addr, found->ai_addrlen);
  collector.length = found->ai_addrlen;
  freeaddrinfo(found);
  return collector;
}

std::size_t LargestDatagramMessage(const IpfixCollector& collector, std::size_t mtu) {
  const std::size_t headers = (collector.Ipv6() ? kIpv6Header : kIpv4Header) + kUdpHeader;
  return mtu > headers ? mtu - headers : 0;
}

IpfixSocket::~IpfixSocket() { Close(); }

void IpfixSocket::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool IpfixSocket::Ready(bool& newSession) {
  newSession = false;
  if (m_fd >= 0) return true;
  const std::int64_t now = platform::WallClockMs();
  if (m_lastAttemptMs != 0 && now - m_lastAttemptMs < kReconnectPauseMs && now >= m_lastAttemptMs) return false;
  m_lastAttemptMs = now;
  const bool udp = m_collector.protocol == IpfixProtocol::kUdp;
  m_fd = socket(m_collector.address.ss_family, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    m_lastError = ErrorText("socket");
    return false;
  }
  const timeval timeout = {kSendTimeoutSeconds, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  // Connected, a UDP socket hears of a collector that is not listening
  // (the next send fails) instead of sending into the void unnoticed.
  if (connect(m_fd, reinterpret_cast<const sockaddr*>(&m_collector.address), m_collector.length) != 0) {
    m_lastError = ErrorText("connect");
    Close();
    return false;
  }
  newSession = true;
  return true;
}

bool IpfixSocket::Send(const std::uint8_t* data, std::size_t size) {
  if (m_fd < 0) return false;
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t written = send(m_fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      m_lastError = ErrorText("send");
      // A datagram that was refused loses itself alone; a stream that
      // broke mid-message is useless from there on.
      if (m_collector.protocol == IpfixProtocol::kTcp) Close();
      return false;
    }
    sent += static_cast<std::size_t>(written);
  }
  return true;
}
