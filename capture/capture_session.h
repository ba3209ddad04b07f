#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "source/file_frame_source.h"
#include "source/live_frame_source.h"
#include "table/pass_schedule.h"
#include "table/refresh_pass.h"
#include "table/traffic_list.h"

class CFilterManager;
class COwnerRefresher;
class FrameBatch;
class CNSCashe;
class CPacketLog;
class CServicesParser;
class CSettings;

// One capture at a time: the capture thread that reads the frames of a
// source (the adapter through the capture helper, or a capture file),
// accounts them in the connection table and schedules the refresh passes,
// and everything that starts and stops with a capture: the log, the
// filters, the totals.
//
// StartCapture and StopCapture run on the user-interface thread (or the
// one thread of a program without a window). The capture thread never waits
// for that thread, and StopCapture never waits long for the capture thread:
// a stop wakes the waiting thread at once, and a pass in progress ends at
// its next entry. InstallFilter, Health, EndedUnexpectedly and
// HelperProcessId may be called from any thread at any time.
class CaptureSession {
 public:
  static constexpr int kReadTimeoutMs = LiveFrameSource::kReadTimeoutMs;
  static constexpr int kKernelBufferBytes = 2097152;

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
  // Where the rows of the captures started from now on find the owners of
  // their connections; null for none. Live captures then ask their helper
  // for the socket events of the cgroup `socketEventsCgroup` (empty: of the
  // whole system) and hand them to `owners`.
  void SetOwners(COwnerRefresher* owners, std::string socketEventsCgroup = {});

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
  // How a replay's reading of its file went. Valid once the thread has ended.
  using ReplayResult = FileFrameSource::Result;
  const ReplayResult& FileReadResult() const { return m_replayResult; }
  // Ends the capture; returns the totals it reached (the table's own are
  // cleared). Safe to call when none runs. Once it returns, Health() holds
  // the helper's last counts.
  CaptureTotals StopCapture();
  // Ends a live capture with every frame the helper took from the adapter
  // counted: the helper stops reading, the capture thread reads what it
  // still sends to its end (for at most a few seconds), then StopCapture.
  // A replay or no capture: StopCapture alone.
  CaptureTotals DrainAndStopCapture();
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
  CaptureHealth Health() const { return m_live.Health(); }
  // The capture ended without StopCapture (the helper ended or what it sent
  // could not be read); the user has been told. Call StopCapture to clean
  // up; Start works again after it.
  bool EndedUnexpectedly() const { return m_live.EndedUnexpectedly(); }
  // The helper's process id while a live capture runs, else -1 (also
  // while none runs for an adapter being opened again).
  pid_t HelperProcessId() const { return m_live.HelperProcessId(); }

 private:
  // What a capture thread shares with the session that started it: its
  // end, and the file it reads. A thread that Stop gave up on owns its
  // ticket, and that file, alone from then on.
  struct ThreadTicket {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;                  // under mutex
    std::atomic<bool> abandoned{false};  // changed under mutex
    std::unique_ptr<FileFrameSource> file;  // a capture file being read
  };

  int Launch(std::unique_ptr<FileFrameSource> file);
  void ResetTotals(bool startNow);
  void CaptureThread(std::shared_ptr<ThreadTicket> ticket);
  void ReadFrames(FrameSource& source, FrameBatch& batch);
  void RunDuePasses(bool gotPacket);
  void WaitForFrames(FrameSource& source);
  void EndThread(ThreadTicket& ticket);
  bool AbandonThread();
  bool WaitForThreadEndFor(int milliseconds);
  void CloseCapture();

  CTrafficList& m_table;
  CSettings& m_settings;
  PassSchedule m_schedule;
  CRefreshPass m_refresh;
  CPacketLog* m_log = nullptr;
  CFilterManager* m_filters = nullptr;
  COwnerRefresher* m_owners = nullptr;
  std::string m_socketEventsCgroup;
  LiveFrameSource m_live;  // the adapter of a live capture
  std::atomic<int> m_linkType{-1};
  std::atomic<bool> m_readingFile{false};
  ReplayResult m_replayResult;  // written by the thread of a replay
  int m_kernelBufferBytes = kKernelBufferBytes;
  int m_wakeFd = -1;  // written by a stop to wake the capture thread
  std::thread m_thread;
  std::shared_ptr<ThreadTicket> m_ticket;  // of the thread that runs or ran last
};
