#include "process/sock_diag_reader.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "process/socket_key.h"

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;

IpAddress AddressOf(int family, const std::uint32_t (&words)[4]) {
  return SocketAddress(family == AF_INET6, reinterpret_cast<const std::uint8_t*>(words));
}

SocketRecord RecordOf(const inet_diag_msg& message, int protocol) {
  SocketRecord record;
  record.local = AddressOf(message.idiag_family, message.id.idiag_src);
  record.remote = AddressOf(message.idiag_family, message.id.idiag_dst);
  record.localPort = message.id.idiag_sport;
  record.remotePort = message.id.idiag_dport;
  record.protocol = static_cast<std::uint8_t>(protocol);
  record.state = message.idiag_state;
  record.uid = message.idiag_uid;
  record.inode = message.idiag_inode;
  record.cookie = message.id.idiag_cookie[0] | std::uint64_t{message.id.idiag_cookie[1]} << 32;
  return record;
}

std::string SystemError(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

}  // namespace

CSockDiagReader::CSockDiagReader() : m_buffer(kBufferBytes) {
  m_socket = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (m_socket < 0) m_openError = errno;
}

CSockDiagReader::~CSockDiagReader() {
  if (m_socket >= 0) close(m_socket);
}

bool CSockDiagReader::Read(std::vector<SocketRecord>& sockets, std::string& error) {
  sockets.clear();
  if (m_socket < 0) {
    error = SystemError("socket listing", m_openError);
    return false;
  }
  bool whole = true;
  for (const int family : {AF_INET, AF_INET6})
    for (const int protocol : {IPPROTO_TCP, IPPROTO_UDP}) whole = Dump(family, protocol, sockets, error) && whole;
  return whole;
}

// One request, then its answer up to the end of the dump. A dump that
// fails part-way keeps what came before the failure.
bool CSockDiagReader::Dump(int family, int protocol, std::vector<SocketRecord>& sockets, std::string& error) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.header.nlmsg_seq = ++m_sequence;
  message.request.sdiag_family = static_cast<std::uint8_t>(family);
  message.request.sdiag_protocol = static_cast<std::uint8_t>(protocol);
  message.request.idiag_states = ~0u;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(m_socket, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    error = SystemError("socket listing request", errno);
    return false;
  }
  for (;;) {
    const ssize_t received = recv(m_socket, m_buffer.data(), m_buffer.size(), 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      error = SystemError("socket listing", errno);
      return false;
    }
    if (received == 0) return true;
    auto* header = reinterpret_cast<nlmsghdr*>(m_buffer.data());
    for (int left = static_cast<int>(received); NLMSG_OK(header, left); header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != m_sequence) continue;  // the end of an earlier, abandoned dump
      if (header->nlmsg_type == NLMSG_DONE) return true;
      if (header->nlmsg_type == NLMSG_ERROR) {
        const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        const bool complete = header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr));
        error = SystemError("socket listing", complete ? -failure->error : EPROTO);
        return false;
      }
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        continue;
      sockets.push_back(RecordOf(*static_cast<const inet_diag_msg*>(NLMSG_DATA(header)), protocol));
    }
  }
}
