#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture_helper/filter_compiler.h"
#include "capture_helper/filter_queue.h"
#include "capture_helper/frame_output.h"
#include "capture_helper/helper_protocol.h"
#include "capture_helper/line_splitter.h"

// SIGINT, SIGTERM and SIGHUP are blocked from here on and read from the
// descriptor returned, so that they end the capture as a stop command does;
// SIGPIPE is ignored, so that a reader who went away is a failed write.
// -1 when the descriptor could not be made.
int OpenStopSignals();

// The capture from the open adapter on: frames out, commands in, status.
// Nothing in its loop waits for the reader, a filter's compile or a name
// lookup: commands and counts are served whatever they do.
class SocketEvents;

class HelperCapture {
 public:
  struct Timing {
    int readTimeoutMs;    // the adapter's: how long the kernel may hold frames back
    int filterTimeoutMs;  // the longest a filter may take to compile
  };

  // `events`: the socket programs' records to pass on (null or not
  // attached: none).
  HelperCapture(pcap_t* handle, FrameOutput& output, int stopSignals, Timing timing, SocketEvents* events = nullptr);

  // Reports the open, then captures until a stop, the end of the input, a
  // stop signal or the reader's going away; the exit code.
  int Run();

 private:
  void InstallEarlyFilter();
  void Reply(std::string_view keyword, std::string_view text = {});
  int WaitMs() const;
  void Serve(const struct pollfd* waited);
  int Finish();
  void ReadCommands();
  void TakeStopSignal();
  void HandleCommand(std::string_view line, bool cut);
  void RequestFilter(std::string_view expression, bool cut);
  void StartNextFilter();
  void AdvanceCompile();
  void InstallProgram(std::vector<bpf_insn>& program);
  void AnswerOutstandingFilters();
  void ReadFrames();
  void DrainAdapter();
  void Flush();
  void WatchAdapterState();
  void ReportStats();

  pcap_t* m_handle;
  FrameOutput& m_output;
  SocketEvents* m_events;
  int m_frameFd;
  int m_stopSignals;
  Timing m_timing;
  LineSplitter m_commands{helper_protocol::kMaxLineBytes};
  FilterCompiler m_compiler;
  FilterQueue m_filters;
  bool m_stopping = false;
  bool m_outputFailed = false;
  bool m_failing = false;
  bool m_down = false;
  std::string m_failureText;
  std::int64_t m_retryMs = 0;
  std::int64_t m_nextStatsMs = 0;
  bool m_holding = false;  // frames wait in the output since m_heldSinceMs
  std::int64_t m_heldSinceMs = 0;
  std::uint64_t m_framesRead = 0;
  // Filter replies wait until the open is reported.
  bool m_holdingReplies = true;
  std::vector<std::pair<std::string, std::string>> m_heldReplies;
};
