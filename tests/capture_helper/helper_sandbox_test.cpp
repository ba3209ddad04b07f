#include "capture_helper/helper_sandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char kRefused[] = "refused";
constexpr char kAllowed[] = "allowed";

struct Attempt {
  const char* name;
  const char* expected;
  std::function<long(int packet, int other)> call;  // `other`: a socket that is not the packet socket
};

// A datagram socket to the discard port on loopback, which takes what it
// is sent: it stands in for the packet socket, and for a name lookup's.
int DiscardSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return fd;
}

long SendMessage(int fd) {
  char byte = 'x';
  iovec piece = {&byte, 1};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  return sendmsg(fd, &message, 0);
}

long SendMessages(int fd) {
  char byte = 'x';
  iovec piece = {&byte, 1};
  mmsghdr messages[1] = {};
  messages[0].msg_hdr.msg_iov = &piece;
  messages[0].msg_hdr.msg_iovlen = 1;
  return sendmmsg(fd, messages, 1, 0);
}

long AttachAcceptAll(int fd) {
  sock_filter acceptAll = BPF_STMT(BPF_RET | BPF_K, 0xFFFF);
  sock_fprog program = {1, &acceptAll};
  return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

std::vector<Attempt> Attempts() {
  char byte = 'x';
  static iovec piece = {&byte, 1};
  const char* dumpable = DumpableSwitchLeftAlone() ? kAllowed : kRefused;
  return {
      {"write to the packet socket", kRefused, [](int p, int) { return write(p, "x", 1); }},
      {"writev to it", kRefused, [](int p, int) { return writev(p, &piece, 1); }},
      {"send to it", kRefused, [](int p, int) { return send(p, "x", 1, 0); }},
      {"sendmsg to it", kRefused, [](int p, int) { return SendMessage(p); }},
      {"sendmmsg to it", kRefused, [](int p, int) { return SendMessages(p); }},
      {"dup of it", kRefused, [](int p, int) { return dup(p); }},
      {"dup2 of it", kRefused, [](int p, int) { return dup2(p, 60); }},
      {"dup3 of it", kRefused, [](int p, int) { return dup3(p, 61, 0); }},
      {"F_DUPFD of it", kRefused, [](int p, int) { return fcntl(p, F_DUPFD, 62); }},
      {"F_DUPFD_CLOEXEC of it", kRefused, [](int p, int) { return fcntl(p, F_DUPFD_CLOEXEC, 63); }},
      {"its flags", kAllowed, [](int p, int) { return fcntl(p, F_GETFL); }},
      {"a capture filter on it", kAllowed, [](int p, int) { return AttachAcceptAll(p); }},
      {"another option of it", kRefused,
       [](int p, int) {
         int size = 4096;
         return setsockopt(p, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
       }},
      {"taking a descriptor of a process", kRefused,
       [](int p, int) { return syscall(SYS_pidfd_getfd, syscall(SYS_pidfd_open, getpid(), 0), p, 0); }},
      {"io_uring", kRefused, [](int, int) { return syscall(SYS_io_uring_setup, 1, nullptr); }},
      {"asynchronous I/O", kRefused,
       [](int, int) {
         unsigned long context = 0;
         return syscall(SYS_io_setup, 1, &context);
       }},
      {"a socket pair", kRefused,
       [](int, int) {
         int ends[2];
         return socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
       }},
      {"a local socket", kRefused, [](int, int) { return socket(AF_UNIX, SOCK_STREAM, 0); }},
      {"sendmsg on standard output", kRefused, [](int, int) { return SendMessage(STDOUT_FILENO); }},
      {"execve", kRefused,
       [](int, int) {
         char* noArguments[] = {nullptr};
         return execve("/bin/true", noArguments, noArguments);
       }},
      {"dumpable again", dumpable, [](int, int) { return prctl(PR_SET_DUMPABLE, 1, 0, 0, 0); }},
      // What a name lookup does, and what the helper does with its output.
      {"an IPv4 socket", kAllowed, [](int, int) { return socket(AF_INET, SOCK_DGRAM, 0); }},
      {"an IPv6 socket", kAllowed, [](int, int) { return socket(AF_INET6, SOCK_DGRAM, 0); }},
      {"a netlink socket", kAllowed, [](int, int) { return socket(AF_NETLINK, SOCK_RAW, 0); }},
      {"send on another socket", kAllowed, [](int, int o) { return send(o, "x", 1, 0); }},
      {"sendmmsg on another socket", kAllowed, [](int, int o) { return SendMessages(o); }},
      {"write to standard error", kAllowed, [](int, int) { return write(STDERR_FILENO, "", 0); }},
  };
}

// In a child of its own with the filter installed (as the helper, after
// no-new-privileges): each attempt's outcome, one a line.
std::string OutcomesUnderTheFilter() {
  int answer[2];
  if (pipe(answer) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    const int packet = DiscardSocket();
    const int other = DiscardSocket();
    std::string outcomes;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !ConfineToCapture(packet)) _exit(1);
    for (const Attempt& attempt : Attempts()) {
      errno = 0;
      const bool refused = attempt.call(packet, other) < 0 && errno == EPERM;
      outcomes += std::string(attempt.name) + ": " + (refused ? kRefused : kAllowed) + "\n";
    }
    const ssize_t written = write(answer[1], outcomes.data(), outcomes.size());
    _exit(written == static_cast<ssize_t>(outcomes.size()) ? 0 : 1);
  }
  close(answer[1]);
  std::string outcomes;
  char bytes[4096];
  for (ssize_t count; (count = read(answer[0], bytes, sizeof bytes)) > 0;) outcomes.append(bytes, count);
  close(answer[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed";
  return outcomes;
}

// Every way of sending through the packet socket, of giving it another
// number or handing it on, and of running another program is refused;
// what a name lookup and the helper's own output need is not.
TEST(HelperSandboxTest, RefusesSendingThroughThePacketSocketAndLittleElse) {
  std::string expected;
  for (const Attempt& attempt : Attempts()) expected += std::string(attempt.name) + ": " + attempt.expected + "\n";
  EXPECT_EQ(OutcomesUnderTheFilter(), expected);
}

}  // namespace
