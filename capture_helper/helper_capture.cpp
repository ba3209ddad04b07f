#include "capture_helper/helper_capture.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture_helper/helper_clock.h"
#include "capture_helper/socket_events.h"
#include "capture_helper/status_report.h"

#ifdef QUORVEL_HELPER_PROBE
// The test copy's own command: tries every way a flaw could use to send a
// frame through the packet socket, and says how each went.
std::string ProbeInjection(int packetFd);
#endif

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
// At the end: how long the frames the kernel still holds back are waited
// for (a session gives its helper 400 ms to end), and how long a reader
// gets to take what is left. The kernel hands a block over within one read
// time-out (200 ms for a session) of its first frame, and its timer may
// come a little late.
constexpr std::int64_t kMostDrainMs = 250;
constexpr int kFinalWriteMs = 1000;
// The longest the open's report waits for a filter sent with the start.
constexpr std::int64_t kEarlyFilterWaitMs = 1000;

constexpr char kSuperseded[] = "superseded by a later filter";
constexpr char kStoppedFirst[] = "the capture stopped first";

enum Waited { kCommands, kFrames, kOutput, kSignals, kCompileAnswer, kCompileChild, kSocketEvents, kWaitedCount };

}  // namespace

int OpenStopSignals() {
  signal(SIGPIPE, SIG_IGN);
  sigset_t stops;
  sigemptyset(&stops);
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  return signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
}

HelperCapture::HelperCapture(pcap_t* handle, FrameOutput& output, int stopSignals, Timing timing,
                             SocketEvents* events)
    : m_handle(handle),
      m_output(output),
      m_events(events),
      m_frameFd(pcap_get_selectable_fd(handle)),
      m_stopSignals(stopSignals),
      m_timing(timing),
      m_compiler(handle, timing.filterTimeoutMs) {}

int HelperCapture::Run() {
  InstallEarlyFilter();
  Report(hp::kOpened);
  m_holdingReplies = false;
  for (const auto& [keyword, text] : m_heldReplies) Report(keyword, text);
  m_heldReplies.clear();
  m_nextStatsMs = NowMs() + kStatsPeriodMs;
  while (!m_stopping) {
    pollfd waiting[kWaitedCount] = {
        {STDIN_FILENO, POLLIN, 0},
        {m_failing ? -1 : m_frameFd, POLLIN, 0},
        // Errors only, unless a write is waiting: a reader who went away
        // is noticed on an idle link too.
        {STDOUT_FILENO, static_cast<short>(m_output.Blocked() ? POLLOUT : 0), 0},
        {m_stopSignals, POLLIN, 0},
        {m_compiler.AnswerFd(), POLLIN, 0},
        {m_compiler.ChildFd(), POLLIN, 0},
        {m_events != nullptr ? m_events->WaitFd() : -1, POLLIN, 0},
    };
    poll(waiting, kWaitedCount, WaitMs());  // on failure, nothing is marked ready
    Serve(waiting);
  }
  return Finish();
}

void HelperCapture::Serve(const pollfd* waited) {
  if (waited[kSignals].revents != 0) TakeStopSignal();
  if (waited[kCommands].revents != 0) ReadCommands();
  if ((waited[kOutput].revents & (POLLERR | POLLHUP)) != 0) {  // the reader has gone
    m_outputFailed = true;
    m_stopping = true;
  }
  if (m_stopping) return;
  if (waited[kSocketEvents].revents != 0) m_events->Drain();
  if ((waited[kOutput].revents & POLLOUT) != 0) Flush();
  if (waited[kCompileAnswer].revents != 0 || waited[kCompileChild].revents != 0 ||
      (m_compiler.Busy() && NowMs() >= m_compiler.DeadlineMs()))
    AdvanceCompile();
  if (!m_failing || NowMs() >= m_retryMs) ReadFrames();
  if (m_holding && !m_output.Blocked() && NowMs() >= m_heldSinceMs + kHoldMs) Flush();
  if (NowMs() >= m_nextStatsMs) {
    ReportStats();
    m_nextStatsMs += kStatsPeriodMs;
    if (m_nextStatsMs <= NowMs()) m_nextStatsMs = NowMs() + kStatsPeriodMs;
  }
}

// As on a stop command: every filter request answered, what the kernel
// took from the adapter before the stop read, everything read written
// (or counted as dropped when the reader does not take it in time), the
// last counts.
int HelperCapture::Finish() {
  AnswerOutstandingFilters();
  if (!m_outputFailed) DrainAdapter();
  if (!m_output.FlushAll(kFinalWriteMs)) m_outputFailed = true;
  ReportStats();
  return m_outputFailed ? hp::kExitFailed : hp::kExitStopped;
}

// A session that takes a capture over sends the filter in force with the
// start: it is in force before the first frame, unless it takes longer to
// compile than a moment (then the capture goes on without it meanwhile, as
// for any other). Its reply waits until the open is reported.
void HelperCapture::InstallEarlyFilter() {
  pollfd input = {STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, 0) <= 0) return;
  ReadCommands();
  const std::int64_t until = NowMs() + kEarlyFilterWaitMs;
  while (m_compiler.Busy() && !m_stopping && NowMs() < until) {
    pollfd waiting[] = {{m_compiler.AnswerFd(), POLLIN, 0}, {m_compiler.ChildFd(), POLLIN, 0},
                        {m_stopSignals, POLLIN, 0}};
    poll(waiting, 3, static_cast<int>(std::max<std::int64_t>(until - NowMs(), 0)));
    if (waiting[2].revents != 0) TakeStopSignal();
    AdvanceCompile();
  }
}

void HelperCapture::Reply(std::string_view keyword, std::string_view text) {
  if (m_holdingReplies)
    m_heldReplies.emplace_back(keyword, text);
  else
    Report(keyword, text);
}

int HelperCapture::WaitMs() const {
  const std::int64_t now = NowMs();
  std::int64_t until = m_nextStatsMs;
  if (m_failing && m_retryMs < until) until = m_retryMs;
  if (pcap_get_required_select_timeout(m_handle) != nullptr && now + kWatchPeriodMs < until)
    until = now + kWatchPeriodMs;
  if (m_holding && !m_output.Blocked() && m_heldSinceMs + kHoldMs < until) until = m_heldSinceMs + kHoldMs;
  if (m_compiler.Busy() && m_compiler.DeadlineMs() < until) until = m_compiler.DeadlineMs();
  return until > now ? static_cast<int>(until - now) : 0;
}

void HelperCapture::ReadCommands() {
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

void HelperCapture::TakeStopSignal() {
  signalfd_siginfo signal{};
  while (read(m_stopSignals, &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal)) m_stopping = true;
}

void HelperCapture::HandleCommand(std::string_view line, bool cut) {
  const std::size_t space = line.find(' ');
  const std::string_view keyword = line.substr(0, space);
  const std::string_view argument = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  if (keyword == hp::kStopCommand) m_stopping = true;
  if (keyword == hp::kFilterCommand) RequestFilter(argument, cut);
#ifdef QUORVEL_HELPER_PROBE
  if (keyword == "probe-inject") Report("probe", ProbeInjection(pcap_fileno(m_handle)));
#endif
}

// Every request is answered in its turn, a refused one too.
void HelperCapture::RequestFilter(std::string_view expression, bool cut) {
  FilterQueue::Request request;
  if (cut)
    request.refusal = "filter expression too long";
  else if (expression.find('\0') != std::string_view::npos)
    request.refusal = "filter expression holds a NUL byte";
  else
    request.expression = expression;
  m_filters.Push(std::move(request));
  StartNextFilter();
}

void HelperCapture::StartNextFilter() {
  FilterQueue::Request request;
  while (!m_compiler.Busy()) {
    switch (m_filters.Take(request)) {
      case FilterQueue::Next::kNothing: return;
      case FilterQueue::Next::kSuperseded: Reply(hp::kFilterFailed, kSuperseded); break;
      case FilterQueue::Next::kRequest: {
        std::string error = request.refusal;
        if (error.empty() && m_compiler.Start(request.expression, error)) return;
        Reply(hp::kFilterFailed, error);
        break;
      }
    }
  }
}

void HelperCapture::AdvanceCompile() {
  FilterCompiler::Result result;
  if (!m_compiler.Advance(result)) return;
  if (result.compiled)
    InstallProgram(result.program);
  else
    Reply(hp::kFilterFailed, result.error);
  StartNextFilter();
}

// Installed between two reads, on the one thread that ever touches the
// handle; the library checks the program before the kernel gets it.
void HelperCapture::InstallProgram(std::vector<bpf_insn>& program) {
  bpf_program code = {static_cast<u_int>(program.size()), program.data()};
  if (pcap_setfilter(m_handle, &code) == 0)
    Reply(hp::kFilterInstalled);
  else
    Reply(hp::kFilterFailed, pcap_geterr(m_handle));
}

void HelperCapture::AnswerOutstandingFilters() {
  if (m_compiler.Busy()) {
    m_compiler.Cancel();
    Reply(hp::kFilterFailed, kStoppedFirst);
  }
  FilterQueue::Request request;
  for (FilterQueue::Next next; (next = m_filters.Take(request)) != FilterQueue::Next::kNothing;)
    Reply(hp::kFilterFailed, next == FilterQueue::Next::kSuperseded ? kSuperseded : kStoppedFirst);
}

// What the adapter holds now, up to kFramesPerRead, gathered for a few
// large writes, never one per frame.
void HelperCapture::ReadFrames() {
  const int result = pcap_dispatch(m_handle, kFramesPerRead, m_output.Handler(), m_output.HandlerArgument());
  if (result < 0) {
    const std::string text = pcap_geterr(m_handle);
    if (!m_failing || text != m_failureText) Report(hp::kReadFailed, text);
    m_failing = true;
    m_failureText = text;
    m_retryMs = NowMs() + kReadErrorPauseMs;
    return;
  }
  m_framesRead += static_cast<std::uint64_t>(result);
  m_output.Publish();
  WatchAdapterState();
  if (m_output.Pending() >= kFlushBytes && !m_output.Blocked()) Flush();
  if (m_output.Pending() != 0 && !m_holding) {
    m_holding = true;
    m_heldSinceMs = NowMs();
  }
}

// The kernel hands frames over a block at a time, a block once it is full
// or its read time-out has passed; the frames it had taken when the stop
// came are read too, for a moment at most. Its counts say how many: those
// it received less those it dropped (the library's counts wrap at 2^32).
void HelperCapture::DrainAdapter() {
  pcap_stat counts{};
  if (m_failing || pcap_stats(m_handle, &counts) != 0) return;
  const std::uint32_t taken = counts.ps_recv - counts.ps_drop;
  const std::int64_t deadline = NowMs() + std::min<std::int64_t>(m_timing.readTimeoutMs + 50, kMostDrainMs);
  for (;;) {
    const auto unread = static_cast<std::int32_t>(taken - static_cast<std::uint32_t>(m_framesRead));
    const std::int64_t left = deadline - NowMs();
    if (unread <= 0 || left <= 0 || m_failing) return;
    pollfd frames = {m_frameFd, POLLIN, 0};
    poll(&frames, 1, static_cast<int>(left));
    ReadFrames();
  }
}

void HelperCapture::Flush() {
  m_holding = false;
  if (!m_output.Flush()) {  // the reader has gone
    m_outputFailed = true;
    m_stopping = true;
  }
}

// A read that worked ends a failure. An adapter that was taken down
// reports no error: the library only asks to be called on a timer until
// it is up again (and then reads from it again by itself), so that
// request is what tells us.
void HelperCapture::WatchAdapterState() {
  const bool down = pcap_get_required_select_timeout(m_handle) != nullptr;
  if (down && !m_down) Report(hp::kAdapterDown, std::strerror(ENETDOWN));
  if (!down && (m_failing || m_down)) Report(hp::kReadResumed);
  m_failing = false;
  m_down = down;
}

void HelperCapture::ReportStats() {
  pcap_stat counts{};
  if (pcap_stats(m_handle, &counts) != 0) return;
  Report(hp::kStats, std::to_string(counts.ps_recv) + ' ' + std::to_string(counts.ps_drop) + ' ' +
                         std::to_string(counts.ps_ifdrop) + ' ' + std::to_string(m_output.DroppedFrames()));
}
