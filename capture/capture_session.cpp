#include "capture/capture_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <string>
#include <system_error>

#include "capture/link_layer.h"
#include "capture/packet_log.h"
#include "capture/traffic_list.h"
#include "config/settings.h"
#include "platform/app_files.h"
#include "platform/tick_count.h"
#include "platform/user_message.h"

namespace {

constexpr std::uint32_t kFullPassPeriodMs = 1000;
constexpr std::uint32_t kPartialPassGapMs = 100;
constexpr int kStopWaitMs = 10000;
constexpr int kReadErrorPauseMs = 100;
constexpr int kCaptureThreadNice = -10;
constexpr std::uint8_t kIpv4With20ByteHeader = 0x45;

std::string OpenFailureText(pcap_t* handle, int status) {
  std::string text = pcap_statustostr(status);
  const char* detail = pcap_geterr(handle);
  if (status == PCAP_ERROR || status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_NO_SUCH_DEVICE) {
    if (detail != nullptr && *detail != '\0') text = detail;
  }
  return text;
}

std::string PermissionHint() {
  return "\r\n没有抓包权限: 请以 root 身份运行, 或授予程序抓包能力: sudo setcap "
         "cap_net_raw,cap_net_admin=eip \"" + platform::ExecutablePath() + "\"";
}

void ShowOpenFailure(const std::string& libraryText, bool permissionDenied) {
  std::string message = "无法启动驱动程序\r\nError message : " + libraryText;
  if (permissionDenied) message += PermissionHint();
  platform::ShowUserMessage(platform::MessageKind::kError, message);
}

// The capture thread should be served before the window when both want the
// processor; where the system refuses (no CAP_SYS_NICE) it runs at normal
// priority, which only costs latency under load.
void RaiseCaptureThreadPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kCaptureThreadNice); }

}  // namespace

CaptureSession::CaptureSession(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                               CServicesParser& services)
    : m_table(table), m_settings(settings), m_refresh(table, settings, hostNames, services, m_schedule),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CaptureSession::~CaptureSession() {
  StopCapture();
  if (m_wakeFd >= 0) close(m_wakeFd);
}

int CaptureSession::OpenAdapter(const char* device) {
  char errorText[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(device, errorText);
  if (handle == nullptr) {
    ShowOpenFailure(errorText, false);
    return 1;
  }
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, m_settings.nopromiscuous == 0 ? 1 : 0);
  pcap_set_timeout(handle, kReadTimeoutMs);
  pcap_set_buffer_size(handle, kKernelBufferBytes);
  const int status = pcap_activate(handle);
  if (status < 0) {  // a positive status is only a warning
    ShowOpenFailure(OpenFailureText(handle, status), status == PCAP_ERROR_PERM_DENIED);
    pcap_close(handle);
    return 1;
  }
  // The library's own blocking read may wait forever on an idle link (the
  // kernel's read time-out only runs once a frame arrived), and the thread
  // must wake at least every read time-out for the one-second passes. So
  // the thread polls the capture's descriptor itself.
  char nonblockError[PCAP_ERRBUF_SIZE] = {};
  pcap_setnonblock(handle, 1, nonblockError);
  m_handle = handle;
  m_linkType = pcap_datalink(handle);
  m_frameFd = pcap_get_selectable_fd(handle);
  return 0;
}

int CaptureSession::StartCapture(const char* device) {
  if (m_thread.joinable()) StopCapture();  // a replay that ended by itself
  if (OpenAdapter(device) != 0) return 1;
  return Launch();
}

int CaptureSession::StartReplay(const char* path, std::string& error) {
  if (m_thread.joinable()) StopCapture();
  char errorText[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_open_offline(path, errorText);
  if (handle == nullptr) {
    error = errorText;
    return 1;
  }
  m_handle = handle;
  m_linkType = pcap_datalink(handle);
  m_frameFd = -1;
  return Launch();
}

int CaptureSession::Launch() {
  ResetTotals(true);
  m_table.RemoveAll();
  m_schedule.running = 1;
  {
    std::lock_guard lock(m_threadStateMutex);
    m_threadEnded = false;
  }
  try {
    m_thread = std::thread(&CaptureSession::CaptureThread, this);
  } catch (const std::system_error&) {
    platform::ShowUserMessage(platform::MessageKind::kError, "线程启动失败!");
    // Nothing is left half open: the next Start begins from scratch.
    m_schedule.running = 0;
    MarkThreadEnded();
    CloseHandle();
    return 1;
  }
  // Logging trouble never stops a capture: the log tells the user itself.
  if (m_log != nullptr) m_log->OpenLog("a+");
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

void CaptureSession::StopCapture() {
  if (m_thread.joinable()) {
    m_schedule.running = 0;
    pcap_breakloop(m_handle);
    const std::uint64_t wake = 1;
    [[maybe_unused]] const ssize_t written = write(m_wakeFd, &wake, sizeof wake);
    m_threadStateChanged.notify_all();
    if (WaitForThreadEndFor(kStopWaitMs)) {
      m_thread.join();
      CloseHandle();
      if (m_log != nullptr) m_log->CloseLog();
    } else {
      // Never kill a thread that may hold the table lock. One that ignored
      // the stop keeps its handle; the next capture opens a new one.
      m_thread.detach();
      m_handle = nullptr;
    }
  }
  m_schedule.running = 0;
  m_handle = nullptr;
  ResetTotals(false);
  m_settings.paused = 0;
}

void CaptureSession::WaitForThreadEnd() {
  std::unique_lock lock(m_threadStateMutex);
  m_threadStateChanged.wait(lock, [this] { return m_threadEnded; });
}

bool CaptureSession::WaitForThreadEndFor(int milliseconds) {
  std::unique_lock lock(m_threadStateMutex);
  return m_threadStateChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                       [this] { return m_threadEnded; });
}

void CaptureSession::MarkThreadEnded() {
  {
    std::lock_guard lock(m_threadStateMutex);
    m_threadEnded = true;
  }
  m_threadStateChanged.notify_all();
}

void CaptureSession::CloseHandle() {
  if (m_handle != nullptr) pcap_close(m_handle);
  m_handle = nullptr;
  m_frameFd = -1;
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &drained, sizeof drained);
}

void CaptureSession::CaptureThread() {
  RaiseCaptureThreadPriority();
  m_schedule.nextFullPassTick = platform::TickCount();
  while (m_schedule.running == 1) {
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    const int result = pcap_next_ex(m_handle, &header, &frame);
    if (m_schedule.running == 0) break;
    // A break is a stop, or the end of a replayed file.
    if (result == PCAP_ERROR_BREAK) break;
    bool gotIpv4Frame = false;
    if (result > 0) gotIpv4Frame = HandleFrame(*header, frame);
    else if (result == 0) WaitForFrames();
    else if (result == PCAP_ERROR) WaitAfterReadError();
    RunDuePasses(gotIpv4Frame);
  }
  MarkThreadEnded();
}

bool CaptureSession::HandleFrame(const pcap_pkthdr& header, const std::uint8_t* frame) {
  const int offset = NetworkLayerOffset(m_linkType, frame, header.caplen);
  if (offset < 0 || header.caplen <= static_cast<bpf_u_int32>(offset)) return false;
  if (frame[offset] != kIpv4With20ByteHeader) return false;
  m_table.AccountPacket(frame + offset, header.caplen - offset);
  return true;
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

// Sleeps until frames wait, a stop wakes the thread, or the next full pass
// is due, whichever comes first, and never longer than the read time-out.
void CaptureSession::WaitForFrames() {
  if (m_frameFd < 0) return;
  const std::uint32_t sinceDue = platform::TickCount() - m_schedule.nextFullPassTick;
  const std::uint32_t untilDue = sinceDue >= kFullPassPeriodMs ? 0 : kFullPassPeriodMs - sinceDue;
  pollfd waiting[2] = {{m_frameFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
  poll(waiting, 2, static_cast<int>(std::min<std::uint32_t>(untilDue, kReadTimeoutMs)));
}

// A failing adapter (unplugged, gone down) answers every read at once with
// an error. The thread keeps trying, as the adapter may come back, but not
// in a busy loop; a stop still ends the wait at once.
void CaptureSession::WaitAfterReadError() {
  std::unique_lock lock(m_threadStateMutex);
  m_threadStateChanged.wait_for(lock, std::chrono::milliseconds(kReadErrorPauseMs),
                                [this] { return m_schedule.running == 0; });
}
