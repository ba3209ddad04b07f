#pragma once

#include <pcap/pcap.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "capture/pass_schedule.h"
#include "capture/refresh_pass.h"
#include "capture/traffic_list.h"

class CNSCashe;
class CPacketLog;
class CServicesParser;
class CSettings;

// One capture at a time: the open adapter (or capture file), the capture
// thread that reads its frames, accounts the IPv4 ones and schedules the
// refresh passes, and everything that starts and stops with a capture.
//
// StartCapture and StopCapture run on the user-interface thread. The
// capture thread never waits for that thread, and StopCapture never waits
// long for the capture thread: a stop wakes a blocked read at once, and a
// pass in progress ends at its next entry.
class CaptureSession {
 public:
  static constexpr int kSnapLength = 262144;  // whole frames: the library's maximum
  static constexpr int kReadTimeoutMs = 200;
  static constexpr int kKernelBufferBytes = 2097152;

  CaptureSession(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                 CServicesParser& services);
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // The packet log that every capture opens when it starts and closes when
  // it stops; null for none.
  void SetPacketLog(CPacketLog* log) { m_log = log; }

  // Opens the adapter by its device name. 0 on success; 1 on failure, after
  // the user was told why.
  int OpenAdapter(const char* device);
  // Opens the adapter and starts capturing on it. 0 when the capture runs;
  // 1 when it could not start (the user was told). Not while one runs.
  int StartCapture(const char* device);
  // Reads a capture file through the same thread, accounting and passes as
  // a live capture, as fast as it can; the thread ends at the file's end.
  // 0 when the replay runs; 1 with the library's message in `error`.
  int StartReplay(const char* path, std::string& error);
  // Ends the capture. Safe to call when none runs.
  void StopCapture();
  // Waits until the capture thread has ended by itself: the end of a
  // replayed file. Returns at once when no thread runs.
  void WaitForThreadEnd();

  bool IsRunning() const { return m_schedule.running != 0; }
  // The capture handle while a capture runs, else null.
  pcap_t* Handle() const { return m_handle; }
  int LinkType() const { return m_linkType; }

 private:
  int Launch();
  void ResetTotals(bool startNow);
  void CaptureThread();
  struct FrameBatch;
  static void OnFrame(u_char* batch, const pcap_pkthdr* header, const u_char* frame);
  void HandleFrame(FrameBatch& batch, const pcap_pkthdr& header, const std::uint8_t* frame);
  void FlushBatch(FrameBatch& batch);
  void RunDuePasses(bool gotIpv4Frame);
  void WaitForFrames();
  void WaitAfterReadError();
  void MarkThreadEnded();
  bool WaitForThreadEndFor(int milliseconds);
  void CloseHandle();

  CTrafficList& m_table;
  CSettings& m_settings;
  PassSchedule m_schedule;
  CRefreshPass m_refresh;
  CPacketLog* m_log = nullptr;
  pcap_t* m_handle = nullptr;
  int m_linkType = -1;
  bool m_readingFile = false;
  int m_frameFd = -1;  // readable when frames wait; -1 for a capture file
  int m_wakeFd = -1;   // written by a stop to wake the capture thread
  std::thread m_thread;
  std::mutex m_threadStateMutex;
  std::condition_variable m_threadStateChanged;
  bool m_threadEnded = true;
};
