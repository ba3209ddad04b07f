#pragma once

#include <string>

// The command line of quorvel-capture:
//
//   quorvel-capture [--snaplen=BYTES] [--timeout=MS] [--buffer=BYTES]
//                   [--no-promiscuous] [--filter-timeout=MS]
//                   [--socket-events[=CGROUP]] [--ring] [--] DEVICE
//
// --socket-events attaches the socket programs to the cgroup v2 hierarchy's
// root (or to the cgroup folder CGROUP, an absolute path) and writes their
// records to descriptor 3 (kSocketEventsFd). --ring puts the frames into
// the shared ring of descriptor 4 (capture_helper/frame_ring_layout.h)
// instead of a capture-file stream on the standard output, which then
// carries only the ring's doorbell.
//
// Every value is checked before the capture library sees it: numbers in
// their range, and a device name of the characters device names are made
// of, so that nothing a caller passes can reach the library as a path, an
// option or a remote source.
struct HelperOptions {
  static constexpr int kMaxSnapLength = 262144;
  static constexpr int kMaxTimeoutMs = 10000;
  static constexpr int kMaxBufferBytes = 256 * 1024 * 1024;
  static constexpr std::size_t kMaxDeviceNameLength = 63;
  static constexpr int kMinFilterTimeoutMs = 100;
  static constexpr int kMaxFilterTimeoutMs = 60000;
  static constexpr std::size_t kMaxCgroupPathLength = 4096;
  static constexpr int kSocketEventsFd = 3;

  std::string device;
  int snapLength = kMaxSnapLength;
  int timeoutMs = 200;
  int bufferBytes = 2 * 1024 * 1024;
  bool promiscuous = true;
  // The longest a filter may take to compile, its host names' lookups
  // included, before it is refused.
  int filterTimeoutMs = 5000;
  bool socketEvents = false;
  std::string cgroup;  // empty: the hierarchy's root
  bool ring = false;
};

// Letters, digits, '.', '_', '-' and ':', at most kMaxDeviceNameLength of
// them, not starting with '-', and neither "." nor "..".
bool IsValidDeviceName(const std::string& name);

// Fills `options` from the arguments after the program's name. Empty on
// success, else why the command line was refused.
std::string ParseHelperOptions(int argc, const char* const* argv, HelperOptions& options);
