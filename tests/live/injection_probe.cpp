// Compiled into the test copy of quorvel-capture only: its command
// "probe-inject" sends one frame through the adapter's packet socket every
// way a flaw in the helper could, and says how each went.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// To the sender end of the test's pair, of a type of its own that the test
// watches for there.
constexpr unsigned char kFrame[60] = {
    0x02, 0x00, 0x00, 0x00, 0x00, 0x02,  // destination: the sender end
    0x02, 0x00, 0x00, 0x00, 0x00, 0x01,  // source: the capture end
    0x88, 0xB5,                          // a type for local experiments
    'q',  'v',  '-',  'p',  'r',  'o',  'b', 'e',
};

long WriteThroughCopy(int copy) {
  if (copy < 0) return copy;
  const long written = write(copy, kFrame, sizeof kFrame);
  close(copy);
  return written;
}

std::string Outcome(long result) {
  if (result >= 0) return "sent";
  if (errno == EPERM) return "refused";
  return std::string("failed:") + std::strerror(errno);
}

}  // namespace

std::string ProbeInjection(int packetFd) {
  iovec piece = {const_cast<unsigned char*>(kFrame), sizeof kFrame};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  mmsghdr messages[1] = {};
  messages[0].msg_hdr = message;
  std::string outcomes;
  // Called with each attempt's result before anything else can change errno.
  const auto note = [&outcomes](const char* name, long result) {
    outcomes += std::string(outcomes.empty() ? "" : " ") + name + '=' + Outcome(result);
  };
  note("write", write(packetFd, kFrame, sizeof kFrame));
  note("writev", writev(packetFd, &piece, 1));
  note("send", send(packetFd, kFrame, sizeof kFrame, 0));
  note("sendmsg", sendmsg(packetFd, &message, 0));
  note("sendmmsg", sendmmsg(packetFd, messages, 1, 0));
  note("dup", WriteThroughCopy(dup(packetFd)));
  note("fcntl", WriteThroughCopy(fcntl(packetFd, F_DUPFD_CLOEXEC, 0)));
  const int self = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0));
  note("pidfd", WriteThroughCopy(static_cast<int>(syscall(SYS_pidfd_getfd, self, packetFd, 0))));
  if (self >= 0) close(self);
  return outcomes;
}
