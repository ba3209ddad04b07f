#include "capture/capture_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "capture/link_layer.h"
#include "capture/open_failure_message.h"
#include "capture/packet_log.h"
#include "capture_helper/helper_protocol.h"
#include "config/settings.h"
#include "filters/filter_manager.h"
#include "platform/app_files.h"
#include "platform/crash_handler.h"
#include "platform/tick_count.h"
#include "platform/user_message.h"

namespace {

namespace hp = helper_protocol;

constexpr std::uint32_t kFullPassPeriodMs = 1000;
constexpr std::uint32_t kPartialPassGapMs = 100;
constexpr int kStopWaitMs = 10000;
constexpr int kCaptureThreadNice = -10;
constexpr std::uint8_t kIpv4With20ByteHeader = 0x45;
constexpr std::size_t kReportReadBytes = 4096;

void ShowOpenFailure(const std::string& libraryText, OpenHint hint = OpenHint::kNone) {
  platform::ShowUserMessage(platform::MessageKind::kError, OpenFailureMessage(libraryText, hint));
}

// The capture thread should be served before the window when both want the
// processor; where the system refuses (no CAP_SYS_NICE) it runs at normal
// priority, which only costs latency under load.
void RaiseCaptureThreadPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kCaptureThreadNice); }

std::vector<std::string> HelperArguments(const char* device, bool promiscuous, int bufferBytes) {
  std::vector<std::string> arguments = {
      "--snaplen=" + std::to_string(CaptureSession::kSnapLength),
      "--timeout=" + std::to_string(CaptureSession::kReadTimeoutMs),
      "--buffer=" + std::to_string(bufferBytes),
  };
  if (!promiscuous) arguments.emplace_back("--no-promiscuous");
  arguments.emplace_back("--");
  arguments.emplace_back(device);
  return arguments;
}

std::chrono::steady_clock::time_point After(int milliseconds) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

// Milliseconds left until `deadline`, 0 once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until `fd` is readable or `deadline` passed; false on time-out.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  pollfd readable = {fd, POLLIN, 0};
  return poll(&readable, 1, MillisecondsUntil(deadline)) > 0;
}

// Reads from `fd` into `reader` until the stream's header is there (or is
// bad) or the descriptor holds nothing more for now. False at its end or on
// an error before that.
bool ReadUntilHeader(int fd, SavefileStreamReader& reader) {
  for (;;) {
    const std::span<std::uint8_t> space = reader.Space();
    const ssize_t count = read(fd, space.data(), space.size());
    if (count > 0) {
      reader.Commit(static_cast<std::size_t>(count));
      reader.ReadHeader();
      if (reader.HeaderRead() || reader.Bad()) return true;
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    return count < 0 && errno == EAGAIN;
  }
}

// The library's kind of message for a capture file whose bytes stop before
// the reader reached its end; empty when it was read to the end (or is no
// regular file, whose end cannot be known).
std::string UnreadTail(std::FILE* file) {
  struct stat status {};
  if (file == nullptr || fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  const long position = std::ftell(file);
  if (position < 0 || position >= status.st_size) return {};
  return "truncated dump file; " + std::to_string(status.st_size - position) + " bytes after the last whole record";
}

}  // namespace

CaptureSession::CaptureSession(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                               CServicesParser& services)
    : m_table(table),
      m_settings(settings),
      m_refresh(table, settings, hostNames, services, m_schedule),
      m_reportLines(hp::kMaxLineBytes),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CaptureSession::~CaptureSession() {
  StopCapture();
  if (m_wakeFd >= 0) close(m_wakeFd);
}

int CaptureSession::OpenAdapter(const char* device) {
  ResetHealth();
  if (StartHelper(device) != 0 || AwaitOpenReply() != 0 || ReadStreamHeader() != 0) {
    std::lock_guard lock(m_commandMutex);
    m_helper.End(0);
    return 1;
  }
  m_readingFile = false;
  return 0;
}

int CaptureSession::StartHelper(const char* device) {
  const std::string path = platform::CaptureHelperPath();
  int error = 0;
  {
    std::lock_guard lock(m_commandMutex);
    m_helperArguments = HelperArguments(device, m_settings.nopromiscuous == 0, m_kernelBufferBytes);
    m_stage = HelperStage::kCapturing;
    error = m_helper.Start(path, m_helperArguments);
  }
  if (error == 0) return 0;
  const bool refused = error == EACCES || error == EPERM;
  ShowOpenFailure("cannot run " + path + ": " + std::strerror(error),
                  refused ? OpenHint::kCannotRunHelper : OpenHint::kNone);
  return 1;
}

// The helper's first report says whether the adapter opened; anything it
// says before that is for people.
int CaptureSession::AwaitOpenReply() {
  const auto deadline = After(kHelperOpenWaitMs);
  m_reportLines = LineSplitter(hp::kMaxLineBytes);
  m_reportsEnded = false;
  m_openReply = HelperOpenReply();
  while (m_openReply.kind == HelperOpenReply::Kind::kNone) {
    if (!WaitReadable(m_helper.ReportFd(), deadline)) {
      ShowOpenFailure("quorvel-capture did not answer");
      return 1;
    }
    char bytes[kReportReadBytes];
    const ssize_t count = read(m_helper.ReportFd(), bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) {
      ShowOpenFailure("quorvel-capture ended without opening the adapter");
      return 1;
    }
    FeedOpenReports(bytes, static_cast<std::size_t>(count));
  }
  if (m_openReply.kind == HelperOpenReply::Kind::kFailed) {
    ShowOpenFailure(m_openReply.text,
                    m_openReply.permissionDenied ? OpenHint::kMissingCapability : OpenHint::kNone);
    return 1;
  }
  return 0;
}

// The first reply is the open's; what comes after it is applied.
void CaptureSession::FeedOpenReports(const char* bytes, std::size_t count) {
  m_reportLines.Feed(bytes, count, [this](std::string_view line, bool) {
    if (m_openReply.kind == HelperOpenReply::Kind::kNone) {
      m_openReply = ParseOpenReply(line);
      return;
    }
    std::lock_guard lock(m_healthMutex);
    ApplyReport(line);
  });
}

// The helper writes the stream's header before it reports the open, so it
// is there now; the link type is known before the first frame.
int CaptureSession::ReadStreamHeader() {
  m_stream = SavefileStreamReader();
  const auto deadline = After(kHelperOpenWaitMs);
  int result = 0;
  while ((result = PullStreamHeader()) == 0 && WaitReadable(m_helper.FrameFd(), deadline)) {
  }
  if (result != 1) {
    ShowOpenFailure(m_stream.Bad() ? m_stream.Error() : "quorvel-capture sent no capture stream");
    return 1;
  }
  return 0;
}

// 1 once the stream's header was read (frames that came along wait for the
// thread), 0 while it has not fully arrived, -1 when it never will.
int CaptureSession::PullStreamHeader() {
  const bool open = ReadUntilHeader(m_helper.FrameFd(), m_stream);
  if (m_stream.Bad()) return -1;
  if (m_stream.HeaderRead()) {
    m_linkType = m_stream.LinkType();
    return 1;
  }
  return open ? 0 : -1;
}

int CaptureSession::StartCapture(const char* device) {
  if (m_thread.joinable()) StopCapture();  // a replay that ended by itself
  if (OpenAdapter(device) != 0 || Launch() != 0) return 1;
  // Frames read before this are not filtered.
  if (m_filters != nullptr) m_filters->ApplyOnStart();
  return 0;
}

int CaptureSession::StartReplay(const char* path, std::string& error, const std::string& filter) {
  if (m_thread.joinable()) StopCapture();
  char errorText[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_open_offline(path, errorText);
  if (handle == nullptr) {
    error = errorText;
    return 1;
  }
  if (!filter.empty() && SetFileFilter(handle, filter, error) != 0) {
    pcap_close(handle);
    return 1;
  }
  ResetHealth();
  m_replayResult = ReplayResult();
  m_handle = handle;
  m_linkType = pcap_datalink(handle);
  m_readingFile = true;
  return Launch();
}

// Before the thread starts: no other thread reads the file yet.
int CaptureSession::SetFileFilter(pcap_t* handle, const std::string& filter, std::string& error) {
  bpf_program program{};
  if (pcap_compile(handle, &program, filter.c_str(), 0, PCAP_NETMASK_UNKNOWN) == -1) {
    error = pcap_geterr(handle);
    return 1;
  }
  const int result = pcap_setfilter(handle, &program);
  if (result != 0) error = pcap_geterr(handle);
  pcap_freecode(&program);
  return result != 0 ? 1 : 0;
}

int CaptureSession::Launch() {
  ResetTotals(true);
  m_table.RemoveAll();
  m_schedule.running = 1;
  m_ticket = std::make_shared<ThreadTicket>();
  m_ticket->handle = m_handle;
  // The log opens before the first frame is read, so that it holds every
  // counted packet. Logging trouble never stops a capture: the log tells
  // the user itself.
  if (m_log != nullptr) m_log->OpenLog("a+");
  try {
    m_thread = std::thread(&CaptureSession::CaptureThread, this, m_ticket);
  } catch (const std::system_error&) {
    platform::ShowUserMessage(platform::MessageKind::kError,
                              {QUORVEL_TRANSLATE_NOOP("Core", "线程启动失败!"), {}});
    // Nothing is left half open: the next Start begins from scratch.
    m_schedule.running = 0;
    m_ticket->ended = true;
    CloseCapture();
    if (m_log != nullptr) m_log->CloseLog();
    return 1;
  }
  return 0;
}

void CaptureSession::ResetTotals(bool startNow) {
  std::lock_guard lock(m_table.TableLock());
  CaptureTotals& totals = m_table.Totals();
  if (startNow) {
    totals.startTick = platform::TickCount();
    totals.totalAtLastFullPass = 0;
  }
  totals.packets = totals.dataBytes = totals.totalBytes = 0;
}

void CaptureSession::ResetHealth() {
  std::lock_guard commandLock(m_commandMutex);
  m_filterRequests = 0;
  m_filterLine.clear();
  std::lock_guard lock(m_healthMutex);
  const std::uint64_t generation = m_health.generation;
  m_health = CaptureHealth();
  m_health.generation = generation + 1;
  m_filterAnswers.clear();
  m_endedUnexpectedly = false;
}

CaptureHealth CaptureSession::Health() const {
  std::lock_guard lock(m_healthMutex);
  return m_health;
}

std::uint64_t CaptureSession::InstallFilter(const std::string& expression) {
  if (expression.find('\0') != std::string::npos) return 0;
  std::string line = std::string(hp::kFilterCommand) + ' ' + expression;
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  line += '\n';
  if (line.size() > hp::kMaxLineBytes) return 0;
  std::lock_guard lock(m_commandMutex);
  if (m_readingFile || m_schedule.running == 0) return 0;
  // A helper that is opening the adapter reads it before its first frame.
  // The request's number waits for its reply before the helper can send
  // it: the capture thread may read the reply before Send returns.
  if (m_stage == HelperStage::kCapturing || m_stage == HelperStage::kOpening) {
    if (!m_helper.Started()) return 0;
    ExpectFilterAnswer(m_filterRequests + 1);
    if (!m_helper.Send(line)) {
      ForgetLastFilterAnswer();
      return 0;
    }
  }
  m_filterLine = line;
  return ++m_filterRequests;
}

void CaptureSession::ExpectFilterAnswer(std::uint64_t request) {
  std::lock_guard lock(m_healthMutex);
  m_filterAnswers.push_back(request);
}

void CaptureSession::ForgetLastFilterAnswer() {
  std::lock_guard lock(m_healthMutex);
  if (!m_filterAnswers.empty()) m_filterAnswers.pop_back();
}

pid_t CaptureSession::HelperProcessId() const {
  std::lock_guard lock(m_commandMutex);
  return m_helper.ProcessId();
}

CaptureTotals CaptureSession::StopCapture() {
  CaptureTotals reached;
  bool abandoned = false;
  if (m_thread.joinable()) {
    m_schedule.running = 0;
    const std::uint64_t wake = 1;
    [[maybe_unused]] const ssize_t written = write(m_wakeFd, &wake, sizeof wake);
    if (WaitForThreadEndFor(kStopWaitMs) || !AbandonThread()) {
      m_thread.join();
      {
        std::lock_guard lock(m_table.TableLock());
        reached = m_table.Totals();
      }
      CloseCapture();
      if (m_log != nullptr) m_log->CloseLog();
    } else {
      // Never kill a thread that may hold the table lock, and never wait
      // for that lock again: the thread may hold it for good. One that
      // ignored the stop closes its file itself when it gets on, and keeps
      // the helper's pipes (at their end once the helper is gone); the
      // next capture opens new ones, and the next start empties the table.
      m_thread.detach();
      m_handle = nullptr;
      m_helper.Abandon();
      abandoned = true;
    }
    if (m_filters != nullptr) m_filters->Clear();
  }
  m_schedule.running = 0;
  m_handle = nullptr;
  if (!abandoned) ResetTotals(false);
  m_settings.paused = 0;
  return reached;
}

void CaptureSession::WaitForThreadEnd() {
  if (m_ticket == nullptr) return;
  std::unique_lock lock(m_ticket->mutex);
  m_ticket->changed.wait(lock, [this] { return m_ticket->ended; });
}

bool CaptureSession::WaitForThreadEndFor(int milliseconds) {
  if (m_ticket == nullptr) return true;
  std::unique_lock lock(m_ticket->mutex);
  return m_ticket->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [this] { return m_ticket->ended; });
}

// False when the thread ended after all.
bool CaptureSession::AbandonThread() {
  std::lock_guard lock(m_ticket->mutex);
  if (m_ticket->ended) return false;
  m_ticket->abandoned = true;
  return true;
}

// The last the thread does with the session; a thread that was given up
// touches nothing of it and closes its file.
void CaptureSession::EndThread(ThreadTicket& ticket, const ReplayResult& result) {
  {
    std::lock_guard lock(ticket.mutex);
    if (!ticket.abandoned) {
      m_replayResult = result;
      ticket.ended = true;
      ticket.changed.notify_all();
      return;
    }
  }
  if (ticket.handle != nullptr) pcap_close(ticket.handle);
}

// The end of the helper's input is its stop; its last counts are kept.
// One that does not end in time is ended.
void CaptureSession::CloseCapture() {
  if (m_handle != nullptr) pcap_close(m_handle);
  m_handle = nullptr;
  {
    std::lock_guard lock(m_commandMutex);
    m_helper.Finish(kHelperEndWaitMs, [this](const char* bytes, std::size_t count) {
      if (m_stage == HelperStage::kOpening) return;  // not yet one of this capture's
      std::lock_guard healthLock(m_healthMutex);
      m_reportLines.Feed(bytes, count, [this](std::string_view line, bool) { ApplyReport(line); });
    });
  }
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &drained, sizeof drained);
}

// Frames are read a run at a time and accounted together, so that the
// table's trips to memory overlap; with a log open each frame goes through
// on its own, as the log needs all its bytes. That is decided frame by
// frame: a log opened in the middle of a run gets every frame read after it.
struct CaptureSession::FrameBatch {
  static constexpr std::size_t kCapacity = 256;
  CaptureSession* session = nullptr;
  ThreadTicket* ticket = nullptr;
  bool gotIpv4Frame = false;
  std::uint64_t records = 0;  // of a capture file, read so far
  std::size_t count = 0;
  CTrafficList::PacketHead heads[kCapacity];
};

void CaptureSession::CaptureThread(std::shared_ptr<ThreadTicket> ticket) {
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kCapture);
  RaiseCaptureThreadPriority();
  auto batch = std::make_unique<FrameBatch>();
  batch->session = this;
  batch->ticket = ticket.get();
  m_schedule.nextFullPassTick = platform::TickCount();
  ReplayResult result;
  if (ticket->handle != nullptr)
    result = ReadCaptureFile(*batch);
  else
    ReadHelperStream(*batch);
  EndThread(*ticket, result);
}

// A read error ends the replay at once: a damaged file answers every
// further read with another error, or with garbage read as records. A file
// that ends inside a record header may read as a plain end; its length
// tells it from a whole file.
CaptureSession::ReplayResult CaptureSession::ReadCaptureFile(FrameBatch& batch) {
  pcap_t* const handle = batch.ticket->handle;
  ReplayResult result;
  while (!batch.ticket->abandoned && m_schedule.running == 1) {
    batch.gotIpv4Frame = false;
    const int read =
        pcap_dispatch(handle, FrameBatch::kCapacity, &CaptureSession::OnFrame, reinterpret_cast<u_char*>(&batch));
    if (batch.ticket->abandoned) break;
    FlushBatch(batch);
    if (read == PCAP_ERROR) result.error = pcap_geterr(handle);
    if (m_schedule.running == 0 || read == PCAP_ERROR) break;
    // Nothing read from a file is its end.
    if (read == 0 || read == PCAP_ERROR_BREAK) {
      result.error = UnreadTail(pcap_file(handle));
      break;
    }
    RunDuePasses(batch.gotIpv4Frame);
  }
  result.records = batch.records;
  return result;
}

// The helper's stream as the library's reader would hand it out: runs of
// at most kCapacity frames, each followed by the passes that are due. The
// thread waits only when the pipe is empty.
void CaptureSession::ReadHelperStream(FrameBatch& batch) {
  while (!batch.ticket->abandoned && m_schedule.running == 1) {
    batch.gotIpv4Frame = false;
    const int result = ReadsFrames() ? DispatchStreamRecords(batch) : 0;
    FlushBatch(batch);
    if (m_schedule.running == 0) break;
    ReadHelperReports();
    if (result == kStreamEnded) {
      if (m_stage != HelperStage::kRetiring) {
        EndUnexpectedly(m_stream.Bad() ? m_stream.Error() : "quorvel-capture ended");
        break;
      }
      FinishRetiring();
    }
    AdvanceHelperStage();
    if (result == 0) WaitForFrames();
    RunDuePasses(batch.gotIpv4Frame);
  }
}

// Up to kCapacity records, reading the pipe once when the records it held
// are used up. The count, or kStreamEnded when the helper's output ended or
// went bad before a record could be read.
int CaptureSession::DispatchStreamRecords(FrameBatch& batch) {
  int count = 0;
  bool readPipe = false;
  SavefileStreamReader::Record record;
  while (count < static_cast<int>(FrameBatch::kCapacity)) {
    const SavefileStreamReader::Next next = m_stream.Read(record);
    if (next == SavefileStreamReader::Next::kRecord) {
      pcap_pkthdr header{};
      header.ts.tv_sec = record.seconds;
      header.ts.tv_usec = record.microseconds;
      header.caplen = record.capturedLength;
      header.len = record.wireLength;
      HandleFrame(batch, header, record.data);
      ++count;
      continue;
    }
    if (next == SavefileStreamReader::Next::kBad) return count > 0 ? count : kStreamEnded;
    if (readPipe) break;
    readPipe = true;
    const std::span<std::uint8_t> space = m_stream.Space();
    const ssize_t bytes = read(m_helper.FrameFd(), space.data(), space.size());
    if (bytes > 0) {
      m_stream.Commit(static_cast<std::size_t>(bytes));
      continue;
    }
    if (bytes == 0 || (errno != EAGAIN && errno != EINTR)) return count > 0 ? count : kStreamEnded;
    break;
  }
  return count;
}

void CaptureSession::ReadHelperReports() {
  if (!m_helper.Started() || m_reportsEnded) return;
  char bytes[kReportReadBytes];
  const ssize_t count = read(m_helper.ReportFd(), bytes, sizeof bytes);
  if (count == 0) m_reportsEnded = true;  // no longer waited for; the frames' end ends the capture
  if (count <= 0) return;
  if (m_stage == HelperStage::kOpening) {
    FeedOpenReports(bytes, static_cast<std::size_t>(count));
    return;
  }
  std::lock_guard lock(m_healthMutex);
  m_reportLines.Feed(bytes, static_cast<std::size_t>(count), [this](std::string_view line, bool) { ApplyReport(line); });
}

// The caller holds m_healthMutex.
void CaptureSession::ApplyReport(std::string_view line) {
  const std::uint64_t replies = m_health.filterReplies;
  if (ApplyHelperReport(line, m_health) != HelperReport::kFilterReply || m_filterAnswers.empty()) return;
  m_health.filterReplies = std::max(replies, m_filterAnswers.front());
  m_filterAnswers.pop_front();
}

// An adapter whose reads fail is not read again by the same helper: the
// library can only open a removed and re-created adapter anew, and the
// helper gave up the right to. A new helper has it.
void CaptureSession::AdvanceHelperStage() {
  switch (m_stage) {
    case HelperStage::kCapturing: {
      std::unique_lock lock(m_healthMutex);
      const bool reopen = m_health.adapterFailing && !m_health.adapterDown;
      lock.unlock();
      if (reopen) BeginRetiring();
      break;
    }
    case HelperStage::kRetiring:
      if (Clock::now() >= m_stageDeadline) FinishRetiring();
      break;
    case HelperStage::kWaiting:
      if (Clock::now() >= m_stageDeadline) StartNextHelper();
      break;
    case HelperStage::kOpening: CheckNextHelper(); break;
  }
}

void CaptureSession::SetStage(HelperStage stage, int deadlineMs) {
  std::lock_guard lock(m_commandMutex);
  m_stage = stage;
  m_stageDeadline = After(deadlineMs);
}

// The helper is asked to stop; what it still sends (frames read before the
// failure, filter replies, its last counts) is read until its output ends.
void CaptureSession::BeginRetiring() {
  SetStage(HelperStage::kRetiring, kHelperEndWaitMs);
  std::lock_guard lock(m_commandMutex);
  m_helper.CloseInput();
}

void CaptureSession::FinishRetiring() {
  while (!m_reportsEnded && WaitReadable(m_helper.ReportFd(), m_stageDeadline)) ReadHelperReports();
  {
    std::lock_guard lock(m_commandMutex);
    m_helper.End(0);
    m_stage = HelperStage::kWaiting;
    m_stageDeadline = After(kReopenPeriodMs);
  }
  std::lock_guard lock(m_healthMutex);
  CarryCountsOver(m_health);
  // A filter the helper did not answer is sent to the next one, whose
  // reply answers every request so far.
  m_filterAnswers.clear();
}

// Started from the capture thread, which is in the network namespace of the
// thread that started the capture: the new helper opens the same adapter.
// The filter asked for last goes with it: the helper reads its commands
// before its first frame.
void CaptureSession::StartNextHelper() {
  int error = 0;
  {
    std::lock_guard lock(m_commandMutex);
    error = m_helper.Start(platform::CaptureHelperPath(), m_helperArguments);
    if (error == 0 && !m_filterLine.empty() && m_helper.Send(m_filterLine)) {
      std::lock_guard healthLock(m_healthMutex);
      m_filterAnswers.push_back(m_filterRequests);
    }
  }
  if (error != 0) {
    SetStage(HelperStage::kWaiting, kReopenPeriodMs);
    return;
  }
  m_reportLines = LineSplitter(hp::kMaxLineBytes);
  m_reportsEnded = false;
  m_openReply = HelperOpenReply();
  m_stream = SavefileStreamReader();
  SetStage(HelperStage::kOpening, kHelperOpenWaitMs);
}

// The new helper either opened the adapter (it is back: the capture goes on
// with it) or did not (the next one is tried a little later, and gets the
// filter of any request this one did not answer).
void CaptureSession::CheckNextHelper() {
  const bool opened = m_openReply.kind == HelperOpenReply::Kind::kOpened;
  const int header = opened ? PullStreamHeader() : 0;
  if (header == 1) {
    SetStage(HelperStage::kCapturing, 0);
    std::lock_guard lock(m_healthMutex);
    MarkAdapterBack(m_health);
    return;
  }
  const bool failed = m_openReply.kind == HelperOpenReply::Kind::kFailed || header < 0 || m_reportsEnded;
  if (!failed && Clock::now() < m_stageDeadline) return;
  {
    std::lock_guard lock(m_commandMutex);
    m_helper.End(0);
    m_stage = HelperStage::kWaiting;
    m_stageDeadline = After(kReopenPeriodMs);
  }
  std::lock_guard lock(m_healthMutex);
  m_filterAnswers.clear();
}

// The user is told first: whoever sees the flag may rely on that.
void CaptureSession::EndUnexpectedly(const std::string& reason) {
  platform::ShowUserMessage(platform::MessageKind::kError,
                            {QUORVEL_TRANSLATE_NOOP("Core", "抓包已意外停止\r\nError message : %1"), {reason}});
  {
    std::lock_guard lock(m_healthMutex);
    m_health.endedUnexpectedly = true;
    m_health.endReason = reason;
    ++m_health.generation;
  }
  m_endedUnexpectedly = true;
}

void CaptureSession::OnFrame(u_char* batch, const pcap_pkthdr* header, const u_char* frame) {
  auto& frames = *reinterpret_cast<FrameBatch*>(batch);
  ++frames.records;
  if (frames.ticket->abandoned) return;
  frames.session->HandleFrame(frames, *header, frame);
}

void CaptureSession::HandleFrame(FrameBatch& batch, const pcap_pkthdr& header, const std::uint8_t* frame) {
  const int offset = NetworkLayerOffset(m_linkType, frame, header.caplen);
  if (offset < 0 || header.caplen <= static_cast<bpf_u_int32>(offset)) return;
  if (frame[offset] != kIpv4With20ByteHeader) return;
  batch.gotIpv4Frame = true;
  const std::uint8_t* ip = frame + offset;
  const std::size_t captured = header.caplen - offset;
  if (m_table.NeedsWholePackets()) {
    FlushBatch(batch);  // the frames read before it go first, in order
    m_table.AccountPacket(ip, captured);
    return;
  }
  CTrafficList::PacketHead& head = batch.heads[batch.count++];
  const std::size_t kept = std::min(captured, CTrafficList::kPacketHeadBytes);
  std::memcpy(head.bytes, ip, kept);
  std::memset(head.bytes + kept, 0, CTrafficList::kPacketHeadBytes - kept);
  head.capturedLength = static_cast<std::uint32_t>(captured);
  if (batch.count == FrameBatch::kCapacity) FlushBatch(batch);
}

void CaptureSession::FlushBatch(FrameBatch& batch) {
  if (batch.count != 0) m_table.AccountPackets(batch.heads, batch.count);
  batch.count = 0;
}

// Full passes keep a one-second grid: the due tick advances by exactly one
// period, so after a stall one full pass runs per turn until it caught up.
// Partial passes follow IPv4 frames, at most every 100 ms.
void CaptureSession::RunDuePasses(bool gotIpv4Frame) {
  const std::uint32_t now = platform::TickCount();
  if (now - m_schedule.nextFullPassTick >= kFullPassPeriodMs) {
    m_refresh.RefreshPass(true);
    m_schedule.nextFullPassTick += kFullPassPeriodMs;
    m_schedule.previousPassTick = now;
  } else if (gotIpv4Frame && now - m_schedule.previousPassTick > kPartialPassGapMs) {
    m_refresh.RefreshPass(false);
    m_schedule.previousPassTick = now;
  }
}

// Sleeps until frames or reports wait, a stop wakes the thread, the next
// full pass is due or the helper's stage has to move on, whichever comes
// first, and never longer than the read time-out.
void CaptureSession::WaitForFrames() {
  const std::uint32_t sinceDue = platform::TickCount() - m_schedule.nextFullPassTick;
  const std::uint32_t untilDue = sinceDue >= kFullPassPeriodMs ? 0 : kFullPassPeriodMs - sinceDue;
  int timeout = static_cast<int>(std::min<std::uint32_t>(untilDue, kReadTimeoutMs));
  if (m_stage != HelperStage::kCapturing) timeout = std::min(timeout, MillisecondsUntil(m_stageDeadline));
  pollfd waiting[3] = {{ReadsFrames() ? m_helper.FrameFd() : -1, POLLIN, 0},
                       {m_reportsEnded ? -1 : m_helper.ReportFd(), POLLIN, 0},
                       {m_wakeFd, POLLIN, 0}};
  poll(waiting, 3, timeout);
}
