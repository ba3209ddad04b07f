#pragma once

#include <cstdint>
#include <string>

struct ring_buffer;
struct socket_events;

// The kernel programs that report socket operations (socket_events.bpf.c),
// attached to a cgroup's socket hooks, and their records passed on to a
// descriptor as they come. Loading and attaching need CAP_BPF and
// CAP_NET_ADMIN; once attached the programs work on without either, and
// they go when this object (or the process) does.
class SocketEvents {
 public:
  SocketEvents() = default;
  ~SocketEvents();
  SocketEvents(const SocketEvents&) = delete;
  SocketEvents& operator=(const SocketEvents&) = delete;

  // Loads the programs and attaches them to the cgroup at `cgroupPath`;
  // records then go to `channelFd`, the first one saying so. False, with
  // why in `error`, when they could not be.
  bool Attach(const std::string& cgroupPath, int channelFd, std::string& error);

  // What to wait on for records; -1 when not attached.
  int WaitFd() const;
  // Passes on every record waiting. Nothing waits for the reader: a record
  // that does not fit into the channel is dropped and counted.
  void Drain();
  std::uint64_t Dropped() const { return m_dropped; }

 private:
  static int Pass(void* self, void* record, std::size_t size);
  bool AttachPrograms(int cgroupFd, std::string& error);

  socket_events* m_programs = nullptr;
  ring_buffer* m_records = nullptr;
  int m_channelFd = -1;
  std::uint64_t m_dropped = 0;
};
