#pragma once

#include <pcap/pcap.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture_helper_process.h"
#include "capture/helper_reports.h"
#include "capture/pass_schedule.h"
#include "capture/refresh_pass.h"
#include "capture/savefile_stream_reader.h"
#include "capture/traffic_list.h"
#include "capture_helper/line_splitter.h"

class CFilterManager;
class CNSCashe;
class CPacketLog;
class CServicesParser;
class CSettings;

// One capture at a time: the open adapter (or capture file), the capture
// thread that reads its frames, accounts the IPv4 ones and schedules the
// refresh passes, and everything that starts and stops with a capture.
//
// A live capture runs in quorvel-capture, found beside the executable: the
// only program that may capture. This process never holds a capability; it
// starts the helper, which opens the adapter and streams the frames over a
// pipe, and reads them on the capture thread. A capture file is read here.
//
// An adapter whose reads fail (it was removed) is opened again: the
// capture thread stops that helper and starts a new one for the same
// device, with the same settings, every half second until one opens it;
// the table, the totals and the counts go on. One that was taken down comes
// back by itself. Health() says which, and when it is back.
//
// StartCapture and StopCapture run on the user-interface thread (or the
// one thread of a program without a window). The capture thread never waits
// for that thread, and StopCapture never waits long for the capture thread:
// a stop wakes the waiting thread at once, and a pass in progress ends at
// its next entry. InstallFilter, Health, EndedUnexpectedly and
// HelperProcessId may be called from any thread at any time.
class CaptureSession {
 public:
  static constexpr int kSnapLength = 262144;  // whole frames: the library's maximum
  static constexpr int kReadTimeoutMs = 200;
  static constexpr int kKernelBufferBytes = 2097152;
  // How long Start waits for the helper to open the adapter, and Stop for
  // it to end before it is ended.
  static constexpr int kHelperOpenWaitMs = 5000;
  static constexpr int kHelperEndWaitMs = 200;
  // How often an adapter whose reads failed is tried again.
  static constexpr int kReopenPeriodMs = 500;

  CaptureSession(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                 CServicesParser& services);
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // The packet log that every capture opens when it starts and closes when
  // it stops; null for none.
  void SetPacketLog(CPacketLog* log) { m_log = log; }
  // The filter store that every live capture is given when it starts and
  // that is cleared when it stops; null for none.
  void SetFilters(CFilterManager* filters) { m_filters = filters; }
  // The kernel's buffer for the frames of the captures started from now
  // on, in bytes (0: the library's default).
  void SetKernelBufferBytes(int bytes) { m_kernelBufferBytes = bytes; }

  // Opens the adapter by its device name: starts the helper and waits for
  // its answer. 0 on success; 1 on failure, after the user was told why.
  // The adapter is the one of the calling thread's network namespace.
  int OpenAdapter(const char* device);
  // Opens the adapter and starts capturing on it. 0 when the capture runs;
  // 1 when it could not start (the user was told). Not while one runs.
  int StartCapture(const char* device);
  // Reads a capture file through the same thread, accounting and passes as
  // a live capture, as fast as it can; the thread ends at the file's end.
  // Only the frames that `filter` accepts are read (empty: every frame).
  // 0 when the replay runs; 1 with the library's message in `error`.
  int StartReplay(const char* path, std::string& error, const std::string& filter = {});
  // How a replay's reading of its file went: the records read, and the
  // library's message when a read failed or the file was cut short (empty
  // when it was read to its end). Valid once the thread has ended.
  struct ReplayResult {
    std::uint64_t records = 0;
    std::string error;
  };
  const ReplayResult& FileReadResult() const { return m_replayResult; }
  // Ends the capture; returns the totals it reached (the table's own are
  // cleared). Safe to call when none runs. Once it returns, Health() holds
  // the helper's last counts.
  CaptureTotals StopCapture();
  // Waits until the capture thread has ended by itself: the end of a
  // replayed file. Returns at once when no thread runs.
  void WaitForThreadEnd();

  bool IsRunning() const { return m_schedule.running != 0; }
  // The link type (DLT_...) of the capture that runs or ran last.
  int LinkType() const { return m_linkType; }

  // Asks the helper to compile and install a capture filter between two of
  // its reads; an empty expression removes the filter. Line breaks count as
  // spaces, as in the filter language. Returns the request's number (1 for
  // the first of a capture, then 2, ...): the reply is in Health() once
  // filterReplies reaches it. 0 when it was not sent: no live capture runs,
  // the expression holds a NUL byte or is too long, or the helper does not
  // take commands. While the adapter is being opened again, the filter
  // waits for the new helper, whose reply answers it.
  std::uint64_t InstallFilter(const std::string& expression);

  // The latest reports of the running (or last) live capture: its counts
  // and drops, the last filter reply, a failing adapter, an unexpected end.
  // A copy, taken under a short lock that the capture thread holds only to
  // change it.
  CaptureHealth Health() const;
  // The capture ended without StopCapture (the helper ended or what it sent
  // could not be read); the user has been told. Call StopCapture to clean
  // up; Start works again after it.
  bool EndedUnexpectedly() const { return m_endedUnexpectedly; }
  // The helper's process id while a live capture runs, else -1 (also
  // while none runs for an adapter being opened again).
  pid_t HelperProcessId() const;

 private:
  enum : int { kStreamEnded = -1 };
  using Clock = std::chrono::steady_clock;
  // Where a live capture stands with its helper. The capture thread moves
  // it on (under m_commandMutex) once the capture runs.
  enum class HelperStage {
    kCapturing,  // the helper reads the adapter
    kRetiring,   // its reads failed: it was asked to stop, its last output is read
    kWaiting,    // no helper: the next one starts at m_stageDeadline
    kOpening,    // a new helper opens the adapter, until m_stageDeadline
  };

  static int SetFileFilter(pcap_t* handle, const std::string& filter, std::string& error);
  int Launch();
  void ResetTotals(bool startNow);
  int StartHelper(const char* device);
  int AwaitOpenReply();
  void FeedOpenReports(const char* bytes, std::size_t count);
  int ReadStreamHeader();
  int PullStreamHeader();
  void ResetHealth();
  struct FrameBatch;
  // What a capture thread shares with the session that started it: its
  // end, and the file it reads. A thread that Stop gave up on owns its
  // ticket, and that file, alone from then on.
  struct ThreadTicket {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;                  // under mutex
    std::atomic<bool> abandoned{false};  // changed under mutex
    pcap_t* handle = nullptr;            // a capture file being read
  };
  void CaptureThread(std::shared_ptr<ThreadTicket> ticket);
  ReplayResult ReadCaptureFile(FrameBatch& batch);
  void ReadHelperStream(FrameBatch& batch);
  static void OnFrame(u_char* batch, const pcap_pkthdr* header, const u_char* frame);
  int DispatchStreamRecords(FrameBatch& batch);
  void HandleFrame(FrameBatch& batch, const pcap_pkthdr& header, const std::uint8_t* frame);
  void FlushBatch(FrameBatch& batch);
  void RunDuePasses(bool gotIpv4Frame);
  void ReadHelperReports();
  void ApplyReport(std::string_view line);
  // The numbers of the filter requests whose replies are still to come, in
  // order (under m_healthMutex).
  void ExpectFilterAnswer(std::uint64_t request);
  void ForgetLastFilterAnswer();
  void AdvanceHelperStage();
  void BeginRetiring();
  void FinishRetiring();
  void StartNextHelper();
  void CheckNextHelper();
  void SetStage(HelperStage stage, int deadlineMs);
  bool ReadsFrames() const { return m_stage == HelperStage::kCapturing || m_stage == HelperStage::kRetiring; }
  void EndUnexpectedly(const std::string& reason);
  void WaitForFrames();
  void EndThread(ThreadTicket& ticket, const ReplayResult& result);
  bool AbandonThread();
  bool WaitForThreadEndFor(int milliseconds);
  void CloseCapture();

  CTrafficList& m_table;
  CSettings& m_settings;
  PassSchedule m_schedule;
  CRefreshPass m_refresh;
  CPacketLog* m_log = nullptr;
  CFilterManager* m_filters = nullptr;
  pcap_t* m_handle = nullptr;  // a capture file being read
  std::atomic<int> m_linkType{-1};
  std::atomic<bool> m_readingFile{false};
  ReplayResult m_replayResult;  // written by the thread of a replay
  int m_kernelBufferBytes = kKernelBufferBytes;
  std::vector<std::string> m_helperArguments;  // the Start's, for every helper of the capture
  CaptureHelperProcess m_helper;        // a live capture; started and ended under m_commandMutex
  SavefileStreamReader m_stream;        // the helper's output
  LineSplitter m_reportLines;           // the helper's reports
  // Below, on the capture thread once it runs.
  bool m_reportsEnded = false;
  HelperOpenReply m_openReply;          // of the helper that opens the adapter
  HelperStage m_stage = HelperStage::kCapturing;  // changed under m_commandMutex
  Clock::time_point m_stageDeadline;
  // One command line at a time; taken before m_healthMutex, never after.
  mutable std::mutex m_commandMutex;
  std::uint64_t m_filterRequests = 0;   // under m_commandMutex
  std::string m_filterLine;             // under m_commandMutex: the last filter asked for
  mutable std::mutex m_healthMutex;
  CaptureHealth m_health;               // under m_healthMutex
  // Under m_healthMutex: for each filter command sent, in order, the
  // request its reply answers (a filter sent again answers the latest).
  std::deque<std::uint64_t> m_filterAnswers;
  std::atomic<bool> m_endedUnexpectedly{false};
  int m_wakeFd = -1;  // written by a stop to wake the capture thread
  std::thread m_thread;
  std::shared_ptr<ThreadTicket> m_ticket;  // of the thread that runs or ran last
};
