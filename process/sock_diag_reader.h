#pragma once

#include <string>
#include <vector>

#include "process/socket_record.h"

// Lists the TCP and UDP sockets of both families through the kernel's
// socket diagnostics (NETLINK_SOCK_DIAG), which any user may ask: each
// with its user, inode and cookie, but not its process. The listing is of
// the network namespace the reader was made in.
class CSockDiagReader {
 public:
  CSockDiagReader();
  ~CSockDiagReader();
  CSockDiagReader(const CSockDiagReader&) = delete;
  CSockDiagReader& operator=(const CSockDiagReader&) = delete;

  // Replaces `sockets` with the listing. False, with the reason in `error`,
  // when a part of it could not be read; what was read is kept.
  bool Read(std::vector<SocketRecord>& sockets, std::string& error);

 private:
  bool Dump(int family, int protocol, std::vector<SocketRecord>& sockets, std::string& error);

  int m_socket = -1;
  int m_openError = 0;
  std::uint32_t m_sequence = 0;
  std::vector<char> m_buffer;
};
