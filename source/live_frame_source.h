#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "capture_helper/line_splitter.h"
#include "source/capture_helper_process.h"
#include "source/frame_ring_reader.h"
#include "source/frame_source.h"
#include "source/helper_reports.h"
#include "source/savefile_stream_reader.h"

// The frames of an adapter, read by quorvel-capture, found beside the
// executable: the only program that may capture. This process never holds
// a capability; it starts the helper, which opens the adapter and copies
// the frames into a ring of shared memory that this process makes and
// reads in place on the capture thread, woken through a pipe only when it
// sleeps. Where no ring can be made, the frames come as a capture-file
// stream over that pipe.
//
// An adapter whose reads fail (it was removed) is opened again: the
// capture thread stops that helper and starts a new one for the same
// device, with the same settings, every half second until one opens it;
// the counts go on. One that was taken down comes back by itself. Health()
// says which, and when it is back.
//
// Open, Finish and Abandon run on the thread that starts and stops
// captures; ReadFrames and WaitForFrames on the capture thread.
// InstallFilter, Health, EndedUnexpectedly and HelperProcessId may be
// called from any thread at any time.
class LiveFrameSource : public FrameSource {
 public:
  static constexpr int kSnapLength = 262144;  // whole frames: the library's maximum
  static constexpr int kReadTimeoutMs = 200;
  // How long Open waits for the helper to open the adapter, and Finish for
  // it to end before it is ended.
  static constexpr int kHelperOpenWaitMs = 5000;
  static constexpr int kHelperEndWaitMs = 400;
  // How often an adapter whose reads failed is tried again.
  static constexpr int kReopenPeriodMs = 500;

  struct Options {
    bool promiscuous = true;
    int kernelBufferBytes = 0;  // 0: the library's default
    // When set, every helper of the capture is asked for the socket events,
    // and the read end of its channel goes here (owned by the callee) as
    // soon as it starts, on the thread that starts it.
    std::function<void(int fd)> socketEvents;
    std::string socketEventsCgroup;  // empty: the whole system's
    // False: the frames come as a capture-file stream over the pipe, as
    // they do where no shared ring can be made.
    bool sharedRing = true;
  };

  LiveFrameSource();

  // Starts the helper on the adapter `device` and waits for its answer. 0
  // when the adapter is open and the stream's header was read; 1 on
  // failure, after the user was told why. The adapter is the one of the
  // calling thread's network namespace.
  int Open(const char* device, const Options& options);

  int LinkType() const override { return m_linkType; }
  int ReadFrames(FrameSink& sink, int limit) override;
  void WaitForFrames(int timeoutMs, int wakeFd) override;

  // Asks the helper to compile and install a capture filter between two of
  // its reads (see CaptureSession::InstallFilter, which checks that a live
  // capture runs). Returns the request's number, 0 when it was not sent.
  std::uint64_t InstallFilter(const std::string& expression);

  // Asks the helper to stop reading the adapter; the capture thread then
  // reads every frame it took before, and the end of its output is the
  // end of the capture, not a failure (ReadFrames returns kEnded). Finish
  // still ends the capture.
  void StopReading();
  // The end of the capture: the end of its input is the helper's stop; its
  // last counts are kept. One that does not end in time is ended.
  void Finish();
  // The capture thread was given up: the helper is ended at once, and the
  // pipes that thread may still read are left to it.
  void Abandon();

  // A new capture starts (live or not): no counts, no replies, no failure,
  // and a new generation, so that whoever shows the health starts afresh.
  void ResetHealth();
  CaptureHealth Health() const;
  // The helper ended without a stop, or what it sent could not be read;
  // the user has been told. ReadFrames has returned kEnded.
  bool EndedUnexpectedly() const { return m_endedUnexpectedly; }
  // The helper's process id while it runs, else -1 (also while the adapter
  // is being opened again and no helper runs).
  pid_t HelperProcessId() const;

 private:
  using Clock = std::chrono::steady_clock;
  // Where a live capture stands with its helper. The capture thread moves
  // it on (under m_commandMutex) once the capture runs.
  enum class HelperStage {
    kCapturing,  // the helper reads the adapter
    kRetiring,   // its reads failed: it was asked to stop, its last output is read
    kWaiting,    // no helper: the next one starts at m_stageDeadline
    kOpening,    // a new helper opens the adapter, until m_stageDeadline
  };

  void End();
  int StartHelper(const char* device, const Options& options);
  int LaunchHelper();
  int AwaitOpenReply();
  void FeedOpenReports(const char* bytes, std::size_t count);
  int ReadStreamHeader();
  int PullStreamHeader();
  int DispatchStreamRecords(FrameSink& sink, int limit);
  int DispatchRingRecords(FrameSink& sink, int limit);
  bool DrainDoorbell();
  std::string StreamError() const;
  void ReadHelperReports();
  void ApplyReport(std::string_view line);
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

  std::atomic<int> m_linkType{-1};
  std::vector<std::string> m_helperArguments;  // the Open's, for every helper of the capture
  std::function<void(int fd)> m_socketEvents;  // the Open's
  bool m_sharedRing = true;                    // the Open's
  CaptureHelperProcess m_helper;               // started and ended under m_commandMutex
  // The helper's frames: its ring, or else the stream of its output. A
  // ring is replaced only with its helper, on the thread that reads it.
  std::unique_ptr<FrameRingReader> m_ring;
  SavefileStreamReader m_stream;
  // The rings of abandoned captures, whose threads may still read them.
  std::vector<std::unique_ptr<FrameRingReader>> m_abandonedRings;
  LineSplitter m_reportLines;                  // the helper's reports
  // Below, on the capture thread once it runs.
  bool m_reportsEnded = false;
  HelperOpenReply m_openReply;  // of the helper that opens the adapter
  HelperStage m_stage = HelperStage::kCapturing;  // changed under m_commandMutex
  Clock::time_point m_stageDeadline;
  // One command line at a time; taken before m_healthMutex, never after.
  mutable std::mutex m_commandMutex;
  std::uint64_t m_filterRequests = 0;  // under m_commandMutex
  std::string m_filterLine;            // under m_commandMutex: the last filter asked for
  mutable std::mutex m_healthMutex;
  CaptureHealth m_health;  // under m_healthMutex
  // Under m_healthMutex: for each filter command sent, in order, the
  // request its reply answers (a filter sent again answers the latest).
  std::deque<std::uint64_t> m_filterAnswers;
  std::atomic<bool> m_endedUnexpectedly{false};
  std::atomic<bool> m_stopAsked{false};  // StopReading was called for this capture
};
