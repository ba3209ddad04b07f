#include "capture/capture_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "capture/frame_batch.h"
#include "config/settings.h"
#include "filters/filter_manager.h"
#include "log/packet_log.h"
#include "platform/crash_handler.h"
#include "platform/tick_count.h"
#include "platform/user_message.h"
#include "process/local_addresses.h"
#include "process/owner_refresher.h"

namespace {

constexpr std::uint32_t kFullPassPeriodMs = 1000;
constexpr std::uint32_t kPartialPassGapMs = 100;
constexpr int kStopWaitMs = 10000;
// The helper holds back at most a fraction of a second of frames.
constexpr int kDrainWaitMs = 3000;
constexpr int kCaptureThreadNice = -10;

// The capture thread should be served before the window when both want the
// processor; where the system refuses (no CAP_SYS_NICE) it runs at normal
// priority, which only costs latency under load.
void RaiseCaptureThreadPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kCaptureThreadNice); }

}  // namespace

CaptureSession::CaptureSession(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                               CServicesParser& services)
    : m_table(table),
      m_settings(settings),
      m_refresh(table, settings, hostNames, services, m_schedule),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CaptureSession::~CaptureSession() {
  StopCapture();
  if (m_wakeFd >= 0) close(m_wakeFd);
}

void CaptureSession::SetOwners(COwnerRefresher* owners, std::string socketEventsCgroup) {
  m_owners = owners;
  m_socketEventsCgroup = std::move(socketEventsCgroup);
  m_refresh.SetOwners(owners);
}

int CaptureSession::OpenAdapter(const char* device) {
  m_live.ResetHealth();
  LiveFrameSource::Options options;
  options.promiscuous = m_settings.nopromiscuous == 0;
  options.kernelBufferBytes = m_kernelBufferBytes;
  if (COwnerRefresher* owners = m_owners) {
    options.socketEvents = [owners](int fd) { owners->ListenToSocketEvents(fd); };
    options.socketEventsCgroup = m_socketEventsCgroup;
  }
  if (m_live.Open(device, options) != 0) return 1;
  m_linkType = m_live.LinkType();
  m_readingFile = false;
  return 0;
}

int CaptureSession::StartCapture(const char* device) {
  if (m_thread.joinable()) StopCapture();  // a replay that ended by itself
  if (OpenAdapter(device) != 0) return 1;
  // Read once, here, in the adapter's namespace: an address the adapter
  // gains or loses during the capture counts from the next start.
  m_table.SetLocalAddresses(AdapterAddresses(device));
  if (Launch(nullptr) != 0) return 1;
  // Frames read before this are not filtered.
  if (m_filters != nullptr) m_filters->ApplyOnStart();
  return 0;
}

int CaptureSession::StartReplay(const char* path, std::string& error, const std::string& filter) {
  if (m_thread.joinable()) StopCapture();
  auto file = std::make_unique<FileFrameSource>();
  if (file->Open(path, filter, error) != 0) return 1;
  m_live.ResetHealth();  // a replay has no helper: the health of no capture
  m_table.SetLocalAddresses({});  // a file's addresses are no machine's here
  m_replayResult = ReplayResult();
  m_linkType = file->LinkType();
  m_readingFile = true;
  return Launch(std::move(file));
}

int CaptureSession::Launch(std::unique_ptr<FileFrameSource> file) {
  ResetTotals(true);
  // What the list still shows is the stopped capture's.
  m_table.RemoveAll(CloseReason::kStopped);
  m_schedule.running = 1;
  m_ticket = std::make_shared<ThreadTicket>();
  m_ticket->file = std::move(file);
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
  totals.packets = totals.dataBytes = totals.totalBytes = totals.sentBytes = 0;
}

std::uint64_t CaptureSession::InstallFilter(const std::string& expression) {
  // A file's filter is given when it opens.
  if (m_readingFile || m_schedule.running == 0) return 0;
  return m_live.InstallFilter(expression);
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
      m_live.Abandon();
      abandoned = true;
    }
    if (m_filters != nullptr) m_filters->Clear();
  }
  m_schedule.running = 0;
  if (!abandoned) ResetTotals(false);
  m_settings.paused = 0;
  return reached;
}

CaptureTotals CaptureSession::DrainAndStopCapture() {
  if (m_thread.joinable() && !m_readingFile && m_schedule.running != 0) {
    m_live.StopReading();
    WaitForThreadEndFor(kDrainWaitMs);
  }
  return StopCapture();
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
// touches nothing of it, and its file closes with its ticket.
void CaptureSession::EndThread(ThreadTicket& ticket) {
  std::lock_guard lock(ticket.mutex);
  if (ticket.abandoned) return;
  if (ticket.file != nullptr) m_replayResult = ticket.file->ReadResult();
  ticket.ended = true;
  ticket.changed.notify_all();
}

// The end of the helper's input is its stop; its last counts are kept.
// One that does not end in time is ended.
void CaptureSession::CloseCapture() {
  if (m_ticket != nullptr) m_ticket->file.reset();
  m_live.Finish();
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &drained, sizeof drained);
}

void CaptureSession::CaptureThread(std::shared_ptr<ThreadTicket> ticket) {
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kCapture);
  RaiseCaptureThreadPriority();
  FrameSource& source = ticket->file != nullptr ? static_cast<FrameSource&>(*ticket->file) : m_live;
  auto batch = std::make_unique<FrameBatch>(m_table, source.LinkType(), ticket->abandoned);
  m_schedule.nextFullPassTick = platform::TickCount();
  ReadFrames(source, *batch);
  EndThread(*ticket);
}

// Runs of at most FrameBatch::kCapacity frames, each followed by the passes
// that are due. The thread waits only when the source has nothing.
void CaptureSession::ReadFrames(FrameSource& source, FrameBatch& batch) {
  while (!batch.Abandoned() && m_schedule.running == 1) {
    const int read = source.ReadFrames(batch, FrameBatch::kCapacity);
    if (batch.Abandoned()) break;
    batch.Flush();
    if (m_schedule.running == 0 || read == FrameSource::kEnded) break;
    if (read == 0) WaitForFrames(source);
    RunDuePasses(batch.TakePacketSeen());
  }
}

// Full passes keep a one-second grid: the due tick advances by exactly one
// period, so after a stall one full pass runs per turn until it caught up.
// Partial passes follow IP packets, at most every 100 ms.
void CaptureSession::RunDuePasses(bool gotPacket) {
  const std::uint32_t now = platform::TickCount();
  if (now - m_schedule.nextFullPassTick >= kFullPassPeriodMs) {
    m_refresh.RefreshPass(true);
    m_schedule.nextFullPassTick += kFullPassPeriodMs;
    m_schedule.previousPassTick = now;
  } else if (gotPacket && now - m_schedule.previousPassTick > kPartialPassGapMs) {
    m_refresh.RefreshPass(false);
    m_schedule.previousPassTick = now;
  }
}

// Sleeps until the source has frames, a stop wakes the thread or the next
// full pass is due, whichever comes first, and never longer than the read
// time-out.
void CaptureSession::WaitForFrames(FrameSource& source) {
  const std::uint32_t sinceDue = platform::TickCount() - m_schedule.nextFullPassTick;
  const std::uint32_t untilDue = sinceDue >= kFullPassPeriodMs ? 0 : kFullPassPeriodMs - sinceDue;
  source.WaitForFrames(static_cast<int>(std::min<std::uint32_t>(untilDue, kReadTimeoutMs)), m_wakeFd);
}
