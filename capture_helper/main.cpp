// quorvel-capture: the only program of Quorvel that may capture. It opens
// one adapter with CAP_NET_RAW effective around the activation alone (and,
// when asked, attaches the socket programs with CAP_BPF and CAP_NET_ADMIN
// effective around that alone), gives every capability up for good,
// forbids itself every way of sending through
// the adapter, and then streams the frames to its standard output as a
// capture file (or copies them into the ring its session shares with it),
// taking commands on its input and reporting on its standard
// error (capture_helper/helper_protocol.h). No configuration, no plugins,
// nothing from the environment.
#include <fcntl.h>
#include <pcap/pcap.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "capture_helper/cgroup_root.h"
#include "capture_helper/helper_capture.h"
#include "capture_helper/helper_options.h"
#include "capture_helper/helper_privileges.h"
#include "capture_helper/helper_protocol.h"
#include "capture_helper/helper_sandbox.h"
#include "capture_helper/ring_writer.h"
#include "capture_helper/socket_events.h"
#include "capture_helper/status_report.h"
#include "capture_helper/stream_writer.h"

namespace {

namespace hp = helper_protocol;

constexpr int kHelperNice = -10;

std::string OpenFailureText(pcap_t* handle, int status) {
  std::string text = pcap_statustostr(status);
  const char* detail = pcap_geterr(handle);
  if (status == PCAP_ERROR || status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_NO_SUCH_DEVICE) {
    if (detail != nullptr && *detail != '\0') text = detail;
  }
  return text;
}

void ReportOpenFailure(bool permissionDenied, std::string_view text) {
  std::string line(permissionDenied ? hp::kPermission : hp::kError);
  line += ' ';
  line += text;
  Report(hp::kOpenFailed, line);
}

// A standard descriptor the caller left closed leads to /dev/null, so that
// no descriptor opened later takes its number: the output would go there.
void OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);
  }
}

void ApplyOptions(pcap_t* handle, const HelperOptions& options) {
  pcap_set_snaplen(handle, options.snapLength);
  pcap_set_promisc(handle, options.promiscuous ? 1 : 0);
  pcap_set_timeout(handle, options.timeoutMs);
  pcap_set_buffer_size(handle, options.bufferBytes);
}

// Opens the adapter; null after the failure was reported. Whatever
// happens, no capability is left when it returns.
pcap_t* OpenAdapter(const HelperOptions& options) {
  char errorText[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(options.device.c_str(), errorText);
  int status = PCAP_ERROR;
  if (handle != nullptr) {
    ApplyOptions(handle, options);
    RaisedCapabilities raised({CAP_NET_RAW});
    status = pcap_activate(handle);
  }
  if (!DropCapabilitiesForGood()) {
    ReportOpenFailure(false, "could not give up the capture capability");
    if (handle != nullptr) pcap_close(handle);
    return nullptr;
  }
  if (handle == nullptr) {
    ReportOpenFailure(false, errorText);
    return nullptr;
  }
  if (status < 0) {  // a positive status is only a warning
    ReportOpenFailure(status == PCAP_ERROR_PERM_DENIED, OpenFailureText(handle, status));
    pcap_close(handle);
    return nullptr;
  }
  char nonblockError[PCAP_ERRBUF_SIZE] = {};
  pcap_setnonblock(handle, 1, nonblockError);
  return handle;
}

// The test copy alone takes this first argument: it shows that what its
// probe sends would arrive without the system-call filter.
bool TakeUnconfinedOption([[maybe_unused]] int& argc, [[maybe_unused]] char**& argv) {
#ifdef QUORVEL_HELPER_PROBE
  if (argc > 1 && std::strcmp(argv[1], "--probe-unconfined") == 0) {
    --argc;
    ++argv;
    return true;
  }
#endif
  return false;
}

// The socket programs, attached before the adapter opens, when asked for.
// A failure is no reason not to capture: the channel closes at once (its
// reader then knows), and a line says why.
void AttachSocketEvents(const HelperOptions& options, SocketEvents& events) {
  const int channel = HelperOptions::kSocketEventsFd;
  std::string error;
  const std::string cgroup = options.cgroup.empty() ? CgroupRoot() : options.cgroup;
  fcntl(channel, F_SETFL, fcntl(channel, F_GETFL) | O_NONBLOCK);  // nothing waits for the reader
  bool attached = false;
  if (cgroup.empty()) {
    error = "no cgroup v2 hierarchy is mounted";
  } else {
    RaisedCapabilities raised({CAP_BPF, CAP_NET_ADMIN});
    attached = events.Attach(cgroup, channel, error);
  }
  if (attached) return;
  std::fprintf(stderr, "socket-events-failed %s\n", error.c_str());
  close(channel);
}

int Capture(pcap_t* handle, const HelperOptions& options, int stopSignals, bool unconfined, SocketEvents& events) {
  if (!unconfined && !ConfineToCapture(pcap_fileno(handle))) {
    ReportOpenFailure(false, "could not forbid sending through the adapter");
    return hp::kExitFailed;
  }
  const HelperCapture::Timing timing = {options.timeoutMs, options.filterTimeoutMs};
  if (options.ring) {
    RingWriter output(frame_ring::kRingFd, STDOUT_FILENO);
    std::string error;
    if (!output.Attach(error)) {
      ReportOpenFailure(false, error);
      return hp::kExitFailed;
    }
    output.Begin(handle);
    return HelperCapture(handle, output, stopSignals, timing, &events).Run();
  }
  StreamWriter output(STDOUT_FILENO);
  if (!output.Begin(handle)) {
    ReportOpenFailure(false, "cannot write the capture to standard output");
    return hp::kExitFailed;
  }
  return HelperCapture(handle, output, stopSignals, timing, &events).Run();
}

// Every descriptor above the standard ones is closed, but the socket
// events' channel and the frame ring when they are asked for and there.
void CloseInheritedDescriptors(const HelperOptions& options, bool& eventsChannel, bool& ring) {
  eventsChannel = options.socketEvents && fcntl(HelperOptions::kSocketEventsFd, F_GETFD) != -1;
  ring = options.ring && fcntl(frame_ring::kRingFd, F_GETFD) != -1;
  if (!eventsChannel) close(HelperOptions::kSocketEventsFd);
  if (!ring) close(frame_ring::kRingFd);
  close_range(frame_ring::kRingFd + 1, ~0U, 0);
}

}  // namespace

int main(int argc, char* argv[]) {
  // First of all: no process of the same user may attach to this one.
  const bool undumpable = MakeUndumpable();
  const bool unconfined = TakeUnconfinedOption(argc, argv);
  HelperOptions options;
  const std::string refused = ParseHelperOptions(argc - 1, argv + 1, options);
  // Nothing a caller puts into the environment reaches the library, and no
  // descriptor it left open is kept but the socket events' channel.
  clearenv();
  bool eventsChannel = false, ring = false;
  CloseInheritedDescriptors(refused.empty() ? options : HelperOptions(), eventsChannel, ring);
  OpenStandardDescriptors();
  const int stopSignals = OpenStopSignals();
  // Served before ordinary programs where the system allows it (as root),
  // so that the kernel's buffer is emptied in time under load.
  setpriority(PRIO_PROCESS, 0, kHelperNice);
  KeepOnlyCaptureCapabilities(eventsChannel);

  if (!refused.empty()) {
    DropCapabilitiesForGood();
    ReportOpenFailure(false, refused);
    std::fputs("usage: quorvel-capture [--snaplen=BYTES] [--timeout=MS] [--buffer=BYTES] [--no-promiscuous] "
               "[--filter-timeout=MS] [--socket-events[=CGROUP] 3>EVENTS] [--ring 4<>RING] [--] DEVICE > FILE\n",
               stderr);
    return hp::kExitUsage;
  }
  if (options.ring && !ring) {
    DropCapabilitiesForGood();
    ReportOpenFailure(false, "--ring needs the frame ring as descriptor 4");
    return hp::kExitFailed;
  }
  if (!undumpable || stopSignals < 0) {
    DropCapabilitiesForGood();
    ReportOpenFailure(false, undumpable ? "cannot watch for stop signals" : "cannot keep other processes out");
    return hp::kExitFailed;
  }

  SocketEvents events;
  if (eventsChannel) AttachSocketEvents(options, events);
  pcap_t* handle = OpenAdapter(options);
  if (handle == nullptr) return hp::kExitFailed;
  const int result = Capture(handle, options, stopSignals, unconfined, events);
  pcap_close(handle);
  return result;
}
