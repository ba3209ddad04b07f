#include "source/capture_helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "capture_helper/frame_ring_layout.h"

namespace {

// Frames come in large writes; a pipe of this size holds several of them.
constexpr int kFramePipeBytes = 1 << 20;
constexpr int kSendWaitMs = 100;
constexpr std::size_t kDrainReadBytes = 65536;
constexpr auto kReapPollPeriod = std::chrono::milliseconds(2);

struct Channel {
  int read = -1;
  int write = -1;
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The two ends of a channel, close-on-exec and above the standard
// descriptors, so that placing them at 0, 1 and 2 in the child never
// overwrites one another, even in a process started with some of those
// closed. The command channel is a socket pair rather than a pipe: a
// command sent to a helper that has gone then fails with an error instead
// of raising SIGPIPE, which would end this process.
enum class ChannelKind { kPipe, kSocket };

// Gives `fd` a number above `floor`, keeping it close-on-exec.
bool MoveAbove(int& fd, int floor) {
  if (fd > floor) return true;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, floor + 1);
  close(fd);
  fd = moved;
  return fd >= 0;
}

bool MakeChannel(Channel& channel, ChannelKind kind) {
  int ends[2];
  const int made = kind == ChannelKind::kPipe ? pipe2(ends, O_CLOEXEC)
                                              : socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
  if (made != 0) return false;
  for (int& end : ends) MoveAbove(end, STDERR_FILENO);
  channel.read = ends[0];
  channel.write = ends[1];
  return channel.read >= 0 && channel.write >= 0;
}

void CloseChannel(Channel& channel) {
  CloseFd(channel.read);
  CloseFd(channel.write);
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// The socket events' descriptor in the helper.
constexpr int kSocketEventsFd = STDERR_FILENO + 1;

class SpawnSetup {
 public:
  // `events.write` and `ring` (when there are) lie above the ring's
  // number, so that placing the others never overwrites them.
  SpawnSetup(const Channel& commands, const Channel& frames, const Channel& reports, const Channel& events, int ring) {
    posix_spawn_file_actions_init(&m_actions);
    posix_spawn_file_actions_adddup2(&m_actions, commands.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&m_actions, frames.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&m_actions, reports.write, STDERR_FILENO);
    if (events.write >= 0) posix_spawn_file_actions_adddup2(&m_actions, events.write, kSocketEventsFd);
    if (ring >= 0) posix_spawn_file_actions_adddup2(&m_actions, ring, frame_ring::kRingFd);
    if (events.write < 0) posix_spawn_file_actions_addclose(&m_actions, kSocketEventsFd);
    posix_spawn_file_actions_addclosefrom_np(&m_actions, ring >= 0 ? frame_ring::kRingFd + 1 : frame_ring::kRingFd);
    posix_spawnattr_init(&m_attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&m_attributes, &none);
    posix_spawnattr_setsigdefault(&m_attributes, &all);
    posix_spawnattr_setpgroup(&m_attributes, 0);
    posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&m_actions);
    posix_spawnattr_destroy(&m_attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
  const posix_spawnattr_t* Attributes() const { return &m_attributes; }

 private:
  posix_spawn_file_actions_t m_actions;
  posix_spawnattr_t m_attributes;
};

}  // namespace

CaptureHelperProcess::~CaptureHelperProcess() { End(0); }

int CaptureHelperProcess::Start(const std::string& path, const std::vector<std::string>& arguments,
                                bool socketEvents, int ringFd) {
  End(0);
  Channel commands, frames, reports, events;
  int ring = -1;  // a copy above the ring's number
  if (!MakeChannel(commands, ChannelKind::kSocket) || !MakeChannel(frames, ChannelKind::kPipe) ||
      !MakeChannel(reports, ChannelKind::kPipe) ||
      (socketEvents && (!MakeChannel(events, ChannelKind::kPipe) || !MoveAbove(events.write, frame_ring::kRingFd))) ||
      (ringFd >= 0 && (ring = fcntl(ringFd, F_DUPFD_CLOEXEC, frame_ring::kRingFd + 1)) < 0)) {
    const int error = errno;
    for (Channel* channel : {&commands, &frames, &reports, &events}) CloseChannel(*channel);
    return error;
  }
  std::vector<char*> argv;
  std::string name = path.substr(path.rfind('/') + 1);
  argv.push_back(name.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  char* noEnvironment[] = {nullptr};

  int error = 0;
  {
    const SpawnSetup setup(commands, frames, reports, events, ring);
    error = posix_spawn(&m_pid, path.c_str(), setup.Actions(), setup.Attributes(), argv.data(), noEnvironment);
  }
  CloseFd(ring);
  CloseFd(commands.read);
  CloseFd(frames.write);
  CloseFd(reports.write);
  CloseFd(events.write);
  if (error != 0) {
    m_pid = -1;
    CloseFd(commands.write);
    CloseFd(frames.read);
    CloseFd(reports.read);
    CloseFd(events.read);
    return error;
  }
  m_socketEventsFd = events.read;
  if (m_socketEventsFd >= 0) SetNonBlocking(m_socketEventsFd);
  m_commandFd = commands.write;
  m_frameFd = frames.read;
  m_reportFd = reports.read;
  SetNonBlocking(m_commandFd);
  SetNonBlocking(m_frameFd);
  SetNonBlocking(m_reportFd);
  // A stream of frames, not a ring's doorbell, needs room.
  if (ringFd < 0) fcntl(m_frameFd, F_SETPIPE_SZ, kFramePipeBytes);  // where the system allows it
  return 0;
}

bool CaptureHelperProcess::Send(std::string_view line) {
  if (m_commandFd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendWaitMs);
  while (!line.empty()) {
    const ssize_t written = send(m_commandFd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      line.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (written < 0 && errno == EAGAIN && left.count() > 0) {
      pollfd writable = {m_commandFd, POLLOUT, 0};
      poll(&writable, 1, static_cast<int>(left.count()));
      continue;
    }
    CloseInput();
    return false;
  }
  return true;
}

void CaptureHelperProcess::CloseInput() { CloseFd(m_commandFd); }

int CaptureHelperProcess::TakeSocketEventsFd() { return std::exchange(m_socketEventsFd, -1); }

void CaptureHelperProcess::Abandon() {
  CloseInput();
  CloseFd(m_socketEventsFd);
  m_frameFd = m_reportFd = -1;
  Reap(0);
}

void CaptureHelperProcess::Finish(int graceMs, const std::function<void(const char*, std::size_t)>& onReports) {
  CloseInput();
  if (m_reportFd < 0) {  // nothing to drain: a replay's, or one that ended already
    End(graceMs);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  std::vector<char> buffer(kDrainReadBytes);
  char* const bytes = buffer.data();
  // Its reports end when it does.
  while (m_reportFd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd waiting[2] = {{m_reportFd, POLLIN, 0}, {m_frameFd, POLLIN, 0}};
    if (poll(waiting, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    if (waiting[1].revents != 0 && read(m_frameFd, bytes, buffer.size()) == 0) CloseFd(m_frameFd);
    if (waiting[0].revents == 0) continue;
    const ssize_t count = read(m_reportFd, bytes, buffer.size());
    if (count > 0)
      onReports(bytes, static_cast<std::size_t>(count));
    else if (count == 0 || (errno != EAGAIN && errno != EINTR))
      CloseFd(m_reportFd);
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  End(static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
}

void CaptureHelperProcess::End(int graceMs) {
  CloseInput();
  CloseFd(m_frameFd);
  CloseFd(m_reportFd);
  CloseFd(m_socketEventsFd);
  Reap(graceMs);
}

void CaptureHelperProcess::Reap(int graceMs) {
  if (m_pid <= 0) return;
  // Our own child, not yet reaped: the number cannot belong to anyone else.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  for (;;) {
    const pid_t reaped = waitpid(m_pid, nullptr, WNOHANG);
    if (reaped == m_pid || (reaped < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(m_pid, SIGKILL);
      while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(kReapPollPeriod);
  }
  m_pid = -1;
}
