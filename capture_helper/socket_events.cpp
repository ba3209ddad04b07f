#include "capture_helper/socket_events.h"

#include <bpf/libbpf.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "capture_helper/socket_event.h"
#include "capture_helper/socket_events.skel.h"

namespace {

std::string SystemText(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

// The cookie of the helper's own network namespace, whose sockets alone
// are reported; 0 when it cannot be known.
std::uint64_t OwnNetworkNamespace() {
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::uint64_t cookie = 0;
  socklen_t length = sizeof cookie;
  if (probe >= 0 && getsockopt(probe, SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length) != 0) cookie = 0;
  if (probe >= 0) close(probe);
  return cookie;
}

}  // namespace

SocketEvents::~SocketEvents() {
  ring_buffer__free(m_records);
  socket_events__destroy(m_programs);
}

bool SocketEvents::Attach(const std::string& cgroupPath, int channelFd, std::string& error) {
  const int cgroupFd = open(cgroupPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (cgroupFd < 0) {
    error = SystemText(cgroupPath.c_str(), errno);
    return false;
  }
  const bool attached = AttachPrograms(cgroupFd, error);
  close(cgroupFd);
  if (!attached) return false;
  m_channelFd = channelFd;
  SocketEvent first{};
  first.kind = kSocketEventsAttached;
  Pass(this, &first, sizeof first);
  return true;
}

bool SocketEvents::AttachPrograms(int cgroupFd, std::string& error) {
  libbpf_set_print(nullptr);  // its reasons come back as error numbers
  const std::uint64_t networkNamespace = OwnNetworkNamespace();
  if (networkNamespace == 0) {
    error = SystemText("cannot tell this network namespace", errno);
    return false;
  }
  m_programs = socket_events__open();
  if (m_programs == nullptr) {
    error = SystemText("cannot open the socket programs", errno);
    return false;
  }
  m_programs->rodata->netnsCookie = networkNamespace;
  if (socket_events__load(m_programs) != 0) {
    error = SystemText("cannot load the socket programs", errno);
    return false;
  }
  bpf_program* const programs[] = {m_programs->progs.OnConnect4, m_programs->progs.OnConnect6,
                                   m_programs->progs.OnSend4,    m_programs->progs.OnSend6,
                                   m_programs->progs.OnBind4,    m_programs->progs.OnBind6,
                                   m_programs->progs.OnSocketOperation};
  bpf_link** const links[] = {&m_programs->links.OnConnect4, &m_programs->links.OnConnect6,
                              &m_programs->links.OnSend4,    &m_programs->links.OnSend6,
                              &m_programs->links.OnBind4,    &m_programs->links.OnBind6,
                              &m_programs->links.OnSocketOperation};
  for (std::size_t i = 0; i < std::size(programs); ++i) {
    *links[i] = bpf_program__attach_cgroup(programs[i], cgroupFd);
    if (*links[i] == nullptr) {
      error = SystemText("cannot attach the socket programs", errno);
      return false;
    }
  }
  m_records = ring_buffer__new(bpf_map__fd(m_programs->maps.events), &SocketEvents::Pass, this, nullptr);
  if (m_records == nullptr) {
    error = SystemText("cannot read the socket programs' records", errno);
    return false;
  }
  return true;
}

int SocketEvents::WaitFd() const { return m_records != nullptr ? ring_buffer__epoll_fd(m_records) : -1; }

void SocketEvents::Drain() {
  if (m_records != nullptr) ring_buffer__consume(m_records);
}

// A record is smaller than what a pipe writes whole, so it arrives whole
// or not at all.
int SocketEvents::Pass(void* self, void* record, std::size_t size) {
  auto& events = *static_cast<SocketEvents*>(self);
  if (size != sizeof(SocketEvent) || write(events.m_channelFd, record, size) != static_cast<ssize_t>(size))
    ++events.m_dropped;
  return 0;
}
