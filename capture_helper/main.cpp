// quorvel-capture: the only program of Quorvel that may capture. It opens
// one adapter with CAP_NET_RAW effective around the activation alone, gives
// the capability up for good, and then streams the frames to its standard
// output as a capture file, taking commands on its input and reporting on
// its standard error (capture_helper/helper_protocol.h). No configuration,
// no plugins, nothing from the environment.
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "capture_helper/helper_options.h"
#include "capture_helper/helper_privileges.h"
#include "capture_helper/helper_protocol.h"
#include "capture_helper/line_splitter.h"
#include "capture_helper/stream_writer.h"

namespace {

namespace hp = helper_protocol;

constexpr std::int64_t kStatsPeriodMs = 1000;
// After a failed read the next one waits this long, so that an adapter
// that is gone does not turn the loop into a busy one.
constexpr std::int64_t kReadErrorPauseMs = 100;
// How often the library is asked while it wants to be asked without a
// frame (it watches an adapter that went down).
constexpr std::int64_t kWatchPeriodMs = 100;
constexpr std::size_t kCommandReadBytes = 4096;
// The most frames one read of the adapter hands over. Under a flood that
// the reader cannot keep up with, the kernel's ring never runs dry, and a
// read without a bound would never return: commands and counts would wait
// for the flood to end.
constexpr int kFramesPerRead = 8192;
// Frames are held back until this many bytes wait or the first of them has
// waited this long: a busy adapter then wakes the reader a few dozen times
// a second instead of once per read of the adapter.
constexpr std::size_t kFlushBytes = 512 * 1024;
constexpr std::int64_t kHoldMs = 40;
constexpr int kHelperNice = -10;

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// One status line: the keyword, then the text with every control
// character made a space, so that no text can end a line early.
void Report(std::string_view keyword, std::string_view text = {}) {
  std::string line(keyword);
  if (!text.empty()) {
    line += ' ';
    for (const char c : text.substr(0, hp::kMaxLineBytes - keyword.size() - 2))
      line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  }
  line += '\n';
  WriteAll(STDERR_FILENO, line);
}

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

// The capture from the open adapter on: frames out, commands in, status.
class HelperCapture {
 public:
  HelperCapture(pcap_t* handle, StreamWriter& output)
      : m_handle(handle), m_output(output), m_frameFd(pcap_get_selectable_fd(handle)) {}

  int Run() {
    m_nextStatsMs = NowMs() + kStatsPeriodMs;
    while (!m_stopping) {
      pollfd waiting[2] = {{STDIN_FILENO, POLLIN, 0}, {m_failing ? -1 : m_frameFd, POLLIN, 0}};
      poll(waiting, 2, WaitMs());
      if (waiting[0].revents != 0) ReadCommands();
      if (m_stopping) break;
      if (!m_failing || NowMs() >= m_retryMs) ReadFrames();
      if (m_holding && NowMs() >= m_heldSinceMs + kHoldMs) Flush();
      if (NowMs() >= m_nextStatsMs) {
        ReportStats();
        m_nextStatsMs += kStatsPeriodMs;
        if (m_nextStatsMs <= NowMs()) m_nextStatsMs = NowMs() + kStatsPeriodMs;
      }
    }
    Flush();
    ReportStats();
    return m_outputFailed ? hp::kExitFailed : hp::kExitStopped;
  }

 private:
  int WaitMs() const {
    const std::int64_t now = NowMs();
    std::int64_t until = m_nextStatsMs;
    if (m_failing && m_retryMs < until) until = m_retryMs;
    if (pcap_get_required_select_timeout(m_handle) != nullptr && now + kWatchPeriodMs < until)
      until = now + kWatchPeriodMs;
    if (m_holding && m_heldSinceMs + kHoldMs < until) until = m_heldSinceMs + kHoldMs;
    return until > now ? static_cast<int>(until - now) : 0;
  }

  void ReadCommands() {
    char bytes[kCommandReadBytes];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (count <= 0) {  // the end of the input is a stop
      m_stopping = true;
      return;
    }
    m_commands.Feed(bytes, static_cast<std::size_t>(count),
                    [this](std::string_view line, bool cut) { HandleCommand(line, cut); });
  }

  void HandleCommand(std::string_view line, bool cut) {
    const std::size_t space = line.find(' ');
    const std::string_view keyword = line.substr(0, space);
    const std::string_view argument = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (keyword == hp::kStopCommand) {
      m_stopping = true;
    } else if (keyword == hp::kFilterCommand) {
      if (cut)
        Report(hp::kFilterFailed, "filter expression too long");
      else
        InstallFilter(std::string(argument));
    }
  }

  // Compiled and installed between two reads, on the one thread that ever
  // touches the handle.
  void InstallFilter(const std::string& expression) {
    if (expression.find('\0') != std::string::npos) {
      Report(hp::kFilterFailed, "filter expression holds a NUL byte");
      return;
    }
    bpf_program program{};
    if (pcap_compile(m_handle, &program, expression.c_str(), 0, PCAP_NETMASK_UNKNOWN) == -1) {
      Report(hp::kFilterFailed, pcap_geterr(m_handle));
      return;
    }
    const bool installed = pcap_setfilter(m_handle, &program) == 0;
    pcap_freecode(&program);
    if (installed)
      Report(hp::kFilterInstalled);
    else
      Report(hp::kFilterFailed, pcap_geterr(m_handle));
  }

  // What the adapter holds now, up to kFramesPerRead, gathered for a few
  // large writes, never one per frame.
  void ReadFrames() {
    const int result =
        pcap_dispatch(m_handle, kFramesPerRead, StreamWriter::OnFrame, reinterpret_cast<u_char*>(&m_output));
    if (result < 0) {
      const std::string text = pcap_geterr(m_handle);
      if (!m_failing || text != m_failureText) Report(hp::kReadFailed, text);
      m_failing = true;
      m_failureText = text;
      m_retryMs = NowMs() + kReadErrorPauseMs;
      return;
    }
    WatchAdapterState();
    if (m_output.Pending() >= kFlushBytes) Flush();
    if (m_output.Pending() != 0 && !m_holding) {
      m_holding = true;
      m_heldSinceMs = NowMs();
    }
  }

  void Flush() {
    m_holding = false;
    if (m_output.Pending() != 0 && !m_output.Flush()) {  // the reader has gone
      m_outputFailed = true;
      m_stopping = true;
    }
  }

  // A read that worked ends a failure. An adapter that was taken down
  // reports no error: the library only asks to be called on a timer until
  // it is up again (and then reads from it again by itself), so that
  // request is what tells us.
  void WatchAdapterState() {
    const bool down = pcap_get_required_select_timeout(m_handle) != nullptr;
    if (down && !m_down) Report(hp::kAdapterDown, std::strerror(ENETDOWN));
    if (!down && (m_failing || m_down)) Report(hp::kReadResumed);
    m_failing = false;
    m_down = down;
  }

  void ReportStats() {
    pcap_stat counts{};
    if (pcap_stats(m_handle, &counts) != 0) return;
    Report(hp::kStats, std::to_string(counts.ps_recv) + ' ' + std::to_string(counts.ps_drop) + ' ' +
                           std::to_string(counts.ps_ifdrop));
  }

  pcap_t* m_handle;
  StreamWriter& m_output;
  int m_frameFd;
  LineSplitter m_commands{hp::kMaxLineBytes};
  bool m_stopping = false;
  bool m_outputFailed = false;
  bool m_failing = false;
  bool m_down = false;
  std::string m_failureText;
  std::int64_t m_retryMs = 0;
  std::int64_t m_nextStatsMs = 0;
  bool m_holding = false;          // frames wait in the output since m_heldSinceMs
  std::int64_t m_heldSinceMs = 0;
};

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
    RaisedCaptureCapability raised;
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

}  // namespace

int main(int argc, char* argv[]) {
  // Nothing a caller puts into the environment reaches the library, and no
  // descriptor it left open is kept.
  clearenv();
  close_range(3, ~0U, 0);
  // Served before ordinary programs where the system allows it (as root),
  // so that the kernel's buffer is emptied in time under load.
  setpriority(PRIO_PROCESS, 0, kHelperNice);
  KeepOnlyCaptureCapability();

  HelperOptions options;
  const std::string refused = ParseHelperOptions(argc - 1, argv + 1, options);
  if (!refused.empty()) {
    DropCapabilitiesForGood();
    ReportOpenFailure(false, refused);
    std::fputs("usage: quorvel-capture [--snaplen=BYTES] [--timeout=MS] [--buffer=BYTES] [--no-promiscuous] "
               "[--] DEVICE > FILE\n",
               stderr);
    return hp::kExitUsage;
  }

  pcap_t* handle = OpenAdapter(options);
  if (handle == nullptr) return hp::kExitFailed;
  StreamWriter output(STDOUT_FILENO);
  if (!output.Begin(handle)) {
    ReportOpenFailure(false, "cannot write the capture to standard output");
    pcap_close(handle);
    return hp::kExitFailed;
  }
  Report(hp::kOpened);
  const int result = HelperCapture(handle, output).Run();
  pcap_close(handle);
  return result;
}
