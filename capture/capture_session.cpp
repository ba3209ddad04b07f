#include "capture/capture_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "capture/link_layer.h"
#include "capture/packet_log.h"
#include "config/settings.h"
#include "platform/app_files.h"
#include "platform/capture_capabilities.h"
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
         "cap_net_raw,cap_net_admin=p \"" + platform::ExecutablePath() + "\"";
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
  int status = 0;
  {
    // The capture capabilities are effective only while the adapter opens.
    platform::ScopedCaptureCapabilities raised;
    status = pcap_activate(handle);
  }
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
  m_readingFile = false;
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
  m_readingFile = true;
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
  // The log opens before the first frame is read, so that it holds every
  // counted packet. Logging trouble never stops a capture: the log tells
  // the user itself.
  if (m_log != nullptr) m_log->OpenLog("a+");
  try {
    m_thread = std::thread(&CaptureSession::CaptureThread, this);
  } catch (const std::system_error&) {
    platform::ShowUserMessage(platform::MessageKind::kError, "线程启动失败!");
    // Nothing is left half open: the next Start begins from scratch.
    m_schedule.running = 0;
    MarkThreadEnded();
    CloseHandle();
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

// Frames are read a run at a time and accounted together, so that the
// table's trips to memory overlap; with a log open each frame goes through
// on its own, as the log needs all its bytes. That is decided frame by
// frame: a log opened in the middle of a run gets every frame read after it.
struct CaptureSession::FrameBatch {
  static constexpr std::size_t kCapacity = 256;
  CaptureSession* session = nullptr;
  bool gotIpv4Frame = false;
  std::size_t count = 0;
  CTrafficList::PacketHead heads[kCapacity];
};

void CaptureSession::CaptureThread() {
  RaiseCaptureThreadPriority();
  auto batch = std::make_unique<FrameBatch>();
  batch->session = this;
  m_schedule.nextFullPassTick = platform::TickCount();
  while (m_schedule.running == 1) {
    batch->gotIpv4Frame = false;
    const int result = pcap_dispatch(m_handle, FrameBatch::kCapacity, &CaptureSession::OnFrame,
                                     reinterpret_cast<u_char*>(batch.get()));
    FlushBatch(*batch);
    if (m_schedule.running == 0) break;
    // A break is a stop; nothing read from a file is its end.
    if (result == PCAP_ERROR_BREAK || (result == 0 && m_readingFile)) break;
    if (result == 0) WaitForFrames();
    else if (result == PCAP_ERROR) WaitAfterReadError();
    RunDuePasses(batch->gotIpv4Frame);
  }
  MarkThreadEnded();
}

void CaptureSession::OnFrame(u_char* batch, const pcap_pkthdr* header, const u_char* frame) {
  auto& frames = *reinterpret_cast<FrameBatch*>(batch);
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

// Sleeps until frames wait, a stop wakes the thread, or the next full pass
// is due, whichever comes first, and never longer than the read time-out.
void CaptureSession::WaitForFrames() {
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
