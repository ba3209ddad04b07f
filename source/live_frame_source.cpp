#include "source/live_frame_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture_helper/helper_protocol.h"
#include "platform/app_files.h"
#include "platform/user_message.h"
#include "source/open_failure_message.h"

namespace {

namespace hp = helper_protocol;

constexpr std::size_t kReportReadBytes = 4096;

void ShowOpenFailure(const std::string& libraryText, OpenHint hint = OpenHint::kNone) {
  platform::ShowUserMessage(platform::MessageKind::kError, OpenFailureMessage(libraryText, hint));
}

std::vector<std::string> HelperArguments(const char* device, const LiveFrameSource::Options& options) {
  std::vector<std::string> arguments = {
      "--snaplen=" + std::to_string(LiveFrameSource::kSnapLength),
      "--timeout=" + std::to_string(LiveFrameSource::kReadTimeoutMs),
      "--buffer=" + std::to_string(options.kernelBufferBytes),
  };
  if (!options.promiscuous) arguments.emplace_back("--no-promiscuous");
  if (options.socketEvents)
    arguments.emplace_back(options.socketEventsCgroup.empty() ? std::string("--socket-events")
                                                              : "--socket-events=" + options.socketEventsCgroup);
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

pcap_pkthdr PacketHeader(const SavefileStreamReader::Record& record) {
  pcap_pkthdr header{};
  header.ts.tv_sec = record.seconds;
  header.ts.tv_usec = record.microseconds;
  header.caplen = record.capturedLength;
  header.len = record.wireLength;
  return header;
}

}  // namespace

LiveFrameSource::LiveFrameSource() : m_reportLines(hp::kMaxLineBytes) {}

int LiveFrameSource::Open(const char* device, const Options& options) {
  if (StartHelper(device, options) != 0 || AwaitOpenReply() != 0 || ReadStreamHeader() != 0) {
    End();
    return 1;
  }
  return 0;
}

int LiveFrameSource::StartHelper(const char* device, const Options& options) {
  int error = 0;
  {
    std::lock_guard lock(m_commandMutex);
    m_helperArguments = HelperArguments(device, options);
    m_socketEvents = options.socketEvents;
    m_sharedRing = options.sharedRing;
    m_stage = HelperStage::kCapturing;
    error = LaunchHelper();
  }
  if (error == 0) return 0;
  const std::string path = platform::CaptureHelperPath();
  const bool refused = error == EACCES || error == EPERM;
  ShowOpenFailure("cannot run " + path + ": " + std::strerror(error),
                  refused ? OpenHint::kCannotRunHelper : OpenHint::kNone);
  return 1;
}

// Starts a helper with the capture's arguments and a frame ring of its own
// (the stream of its output where no ring can be made); the caller holds
// m_commandMutex. 0, or the error number of the failed start.
int LiveFrameSource::LaunchHelper() {
  auto ring = std::make_unique<FrameRingReader>();
  std::string ringError;
  std::vector<std::string> arguments = m_helperArguments;
  if (m_sharedRing && ring->Create(ringError))
    arguments.insert(arguments.begin(), "--ring");
  else
    ring.reset();
  const int error = m_helper.Start(platform::CaptureHelperPath(), arguments, m_socketEvents != nullptr,
                                   ring != nullptr ? ring->Fd() : -1);
  if (ring != nullptr) ring->CloseFd();
  m_ring = std::move(ring);
  if (error == 0 && m_socketEvents) m_socketEvents(m_helper.TakeSocketEventsFd());
  return error;
}

// The helper's first report says whether the adapter opened; anything it
// says before that is for people.
int LiveFrameSource::AwaitOpenReply() {
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
void LiveFrameSource::FeedOpenReports(const char* bytes, std::size_t count) {
  m_reportLines.Feed(bytes, count, [this](std::string_view line, bool) {
    if (m_openReply.kind == HelperOpenReply::Kind::kNone) {
      m_openReply = ParseOpenReply(line);
      return;
    }
    std::lock_guard lock(m_healthMutex);
    ApplyReport(line);
  });
}

// The helper writes the stream's header (or its ring's page) before it
// reports the open, so it is there now; the link type is known before the
// first frame.
int LiveFrameSource::ReadStreamHeader() {
  m_stream = SavefileStreamReader();
  if (m_ring != nullptr) {
    if (PullStreamHeader() == 1) return 0;
    ShowOpenFailure(m_ring->Error());
    return 1;
  }
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
int LiveFrameSource::PullStreamHeader() {
  if (m_ring != nullptr) {
    if (m_ring->ReadHeader() == SavefileStreamReader::Next::kBad) return -1;
    m_linkType = m_ring->LinkType();
    return 1;
  }
  const bool open = ReadUntilHeader(m_helper.FrameFd(), m_stream);
  if (m_stream.Bad()) return -1;
  if (m_stream.HeaderRead()) {
    m_linkType = m_stream.LinkType();
    return 1;
  }
  return open ? 0 : -1;
}

void LiveFrameSource::ResetHealth() {
  std::lock_guard commandLock(m_commandMutex);
  m_filterRequests = 0;
  m_filterLine.clear();
  std::lock_guard lock(m_healthMutex);
  const std::uint64_t generation = m_health.generation;
  m_health = CaptureHealth();
  m_health.generation = generation + 1;
  m_filterAnswers.clear();
  m_endedUnexpectedly = false;
  m_stopAsked = false;
}

CaptureHealth LiveFrameSource::Health() const {
  std::lock_guard lock(m_healthMutex);
  return m_health;
}

std::uint64_t LiveFrameSource::InstallFilter(const std::string& expression) {
  // A helper that went away may still hold its command channel open for a
  // moment while the system takes it down: no command goes to it.
  if (m_endedUnexpectedly || expression.find('\0') != std::string::npos) return 0;
  std::string line = std::string(hp::kFilterCommand) + ' ' + expression;
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  line += '\n';
  if (line.size() > hp::kMaxLineBytes) return 0;
  std::lock_guard lock(m_commandMutex);
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

void LiveFrameSource::ExpectFilterAnswer(std::uint64_t request) {
  std::lock_guard lock(m_healthMutex);
  m_filterAnswers.push_back(request);
}

void LiveFrameSource::ForgetLastFilterAnswer() {
  std::lock_guard lock(m_healthMutex);
  if (!m_filterAnswers.empty()) m_filterAnswers.pop_back();
}

pid_t LiveFrameSource::HelperProcessId() const {
  std::lock_guard lock(m_commandMutex);
  return m_helper.ProcessId();
}

void LiveFrameSource::StopReading() {
  std::lock_guard lock(m_commandMutex);
  m_stopAsked = true;
  m_helper.CloseInput();
}

void LiveFrameSource::Finish() {
  std::lock_guard lock(m_commandMutex);
  m_helper.Finish(kHelperEndWaitMs, [this](const char* bytes, std::size_t count) {
    if (m_stage == HelperStage::kOpening) return;  // not yet one of this capture's
    std::lock_guard healthLock(m_healthMutex);
    m_reportLines.Feed(bytes, count, [this](std::string_view line, bool) { ApplyReport(line); });
  });
}

void LiveFrameSource::Abandon() {
  std::lock_guard lock(m_commandMutex);
  m_helper.Abandon();
  if (m_ring != nullptr) m_abandonedRings.push_back(std::move(m_ring));
}

void LiveFrameSource::End() {
  std::lock_guard lock(m_commandMutex);
  m_helper.End(0);
}

// The helper's stream as the library's reader would hand it out, then what
// the helper reported, and the helper's stage moved on: runs of at most
// `limit` frames.
int LiveFrameSource::ReadFrames(FrameSink& sink, int limit) {
  int result = 0;
  if (ReadsFrames()) result = m_ring != nullptr ? DispatchRingRecords(sink, limit) : DispatchStreamRecords(sink, limit);
  ReadHelperReports();
  if (result == kEnded) {
    if (m_stopAsked) return kEnded;
    if (m_stage != HelperStage::kRetiring) {
      EndUnexpectedly(StreamError());
      return kEnded;
    }
    FinishRetiring();
  }
  AdvanceHelperStage();
  return std::max(result, 0);
}

// Up to `limit` records, reading the pipe once when the records it held
// are used up. The count, or kEnded when the helper's output ended or went
// bad before a record could be read.
int LiveFrameSource::DispatchStreamRecords(FrameSink& sink, int limit) {
  int count = 0;
  bool readPipe = false;
  SavefileStreamReader::Record record;
  while (count < limit) {
    const SavefileStreamReader::Next next = m_stream.Read(record);
    if (next == SavefileStreamReader::Next::kRecord) {
      sink.TakeFrame(PacketHeader(record), record.data);
      ++count;
      continue;
    }
    if (next == SavefileStreamReader::Next::kBad) return count > 0 ? count : kEnded;
    if (readPipe) break;
    readPipe = true;
    const std::span<std::uint8_t> space = m_stream.Space();
    const ssize_t bytes = read(m_helper.FrameFd(), space.data(), space.size());
    if (bytes > 0) {
      m_stream.Commit(static_cast<std::size_t>(bytes));
      continue;
    }
    if (bytes == 0 || (errno != EAGAIN && errno != EINTR)) return count > 0 ? count : kEnded;
    break;
  }
  return count;
}

// Up to `limit` records of the ring, read in place and released together.
// An empty ring empties the doorbell: its end (the helper's) means that the
// ring holds all there will ever be. The count, or kEnded when the ring
// ended or went bad before a record could be read.
int LiveFrameSource::DispatchRingRecords(FrameSink& sink, int limit) {
  int count = 0;
  bool doorbellRead = false, ended = false;
  FrameRingReader::Record record;
  FrameRingReader::Next next = FrameRingReader::Next::kNeedBytes;
  while (count < limit) {
    next = m_ring->Read(record);
    if (next == FrameRingReader::Next::kRecord) {
      sink.TakeFrame(PacketHeader(record), record.data);
      ++count;
      continue;
    }
    if (next == FrameRingReader::Next::kBad || doorbellRead) break;
    doorbellRead = true;
    ended = !DrainDoorbell();  // then the records published before the end
  }
  m_ring->Release();
  const bool over = next == FrameRingReader::Next::kBad || (ended && next == FrameRingReader::Next::kNeedBytes);
  return count == 0 && over ? kEnded : count;
}

// False at the doorbell's end (or on an error reading it).
bool LiveFrameSource::DrainDoorbell() {
  char bells[256];
  for (;;) {
    const ssize_t count = read(m_helper.FrameFd(), bells, sizeof bells);
    if (count > 0) continue;
    if (count < 0 && errno == EINTR) continue;
    return count < 0 && errno == EAGAIN;
  }
}

std::string LiveFrameSource::StreamError() const {
  if (m_ring != nullptr && m_ring->Bad()) return m_ring->Error();
  if (m_ring == nullptr && m_stream.Bad()) return m_stream.Error();
  return "quorvel-capture ended";
}

void LiveFrameSource::ReadHelperReports() {
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
void LiveFrameSource::ApplyReport(std::string_view line) {
  const std::uint64_t replies = m_health.filterReplies;
  if (ApplyHelperReport(line, m_health) != HelperReport::kFilterReply || m_filterAnswers.empty()) return;
  m_health.filterReplies = std::max(replies, m_filterAnswers.front());
  m_filterAnswers.pop_front();
}

// An adapter whose reads fail is not read again by the same helper: the
// library can only open a removed and re-created adapter anew, and the
// helper gave up the right to. A new helper has it.
void LiveFrameSource::AdvanceHelperStage() {
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

void LiveFrameSource::SetStage(HelperStage stage, int deadlineMs) {
  std::lock_guard lock(m_commandMutex);
  m_stage = stage;
  m_stageDeadline = After(deadlineMs);
}

// The helper is asked to stop; what it still sends (frames read before the
// failure, filter replies, its last counts) is read until its output ends.
void LiveFrameSource::BeginRetiring() {
  SetStage(HelperStage::kRetiring, kHelperEndWaitMs);
  std::lock_guard lock(m_commandMutex);
  m_helper.CloseInput();
}

void LiveFrameSource::FinishRetiring() {
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
void LiveFrameSource::StartNextHelper() {
  int error = 0;
  {
    std::lock_guard lock(m_commandMutex);
    error = LaunchHelper();
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
void LiveFrameSource::CheckNextHelper() {
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
void LiveFrameSource::EndUnexpectedly(const std::string& reason) {
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

// Sleeps until frames or reports wait, `wakeFd` is readable, the helper's
// stage has to move on, or `timeoutMs` passed, whichever comes first.
// A ring that still holds records is no reason to sleep; one that is empty
// is rung when the helper publishes into it.
void LiveFrameSource::WaitForFrames(int timeoutMs, int wakeFd) {
  int timeout = std::min(timeoutMs, kReadTimeoutMs);
  if (m_stage != HelperStage::kCapturing) timeout = std::min(timeout, MillisecondsUntil(m_stageDeadline));
  const bool ring = m_ring != nullptr && ReadsFrames();
  if (ring && !m_ring->Sleep()) timeout = 0;
  pollfd waiting[3] = {{ReadsFrames() ? m_helper.FrameFd() : -1, POLLIN, 0},
                       {m_reportsEnded ? -1 : m_helper.ReportFd(), POLLIN, 0},
                       {wakeFd, POLLIN, 0}};
  poll(waiting, 3, timeout);
  if (ring) m_ring->Awake();
}
