#pragma once

#include <pcap/pcap.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Compiles filter expressions in a child process, one at a time, so that
// neither an expression the library takes minutes over nor a host name
// whose name server never answers holds up the capture; a compile that
// takes longer than its limit is ended.
//
// The child is a copy of this process: it compiles on its own copy of the
// adapter's handle (so the program is the one the adapter would have got,
// with the adapter's link type, snapshot length and the kernel's ways of
// reading VLAN tags), after closing every descriptor but the one it answers
// on, the capture's packet socket first. The handle itself is never
// touched by the child's compile: only its memory was copied.
class FilterCompiler {
 public:
  // The longest program taken from the child, in instructions.
  static constexpr std::size_t kMaxInstructions = 1 << 18;

  struct Result {
    bool compiled = false;
    std::vector<bpf_insn> program;  // when compiled
    std::string error;              // when not
  };

  FilterCompiler(pcap_t* handle, int limitMs) : m_handle(handle), m_limitMs(limitMs) {}
  ~FilterCompiler() { Cancel(); }
  FilterCompiler(const FilterCompiler&) = delete;
  FilterCompiler& operator=(const FilterCompiler&) = delete;

  // Starts compiling `expression`; false, with `error`, when no child
  // could be started.
  bool Start(const std::string& expression, std::string& error);
  bool Busy() const { return m_pid > 0; }

  // While busy: the descriptors to wait on (the child's answer, and the
  // child itself, readable once it has ended) and when it runs out of time.
  int AnswerFd() const { return m_answerFd; }
  int ChildFd() const { return m_childFd; }
  std::int64_t DeadlineMs() const { return m_deadlineMs; }

  // Takes what the child has said; true once the compile is over, with
  // `result` filled (then it is no longer busy). Never waits.
  bool Advance(Result& result);
  // Ends the compile at once.
  void Cancel();

 private:
  void ReadAnswer();
  void End(Result& result, std::string error);
  void ParseAnswer(Result& result) const;
  void CloseChannels();

  pcap_t* m_handle;
  int m_limitMs;
  pid_t m_pid = -1;
  int m_answerFd = -1;
  int m_childFd = -1;
  std::int64_t m_deadlineMs = 0;
  std::vector<unsigned char> m_answer;
  bool m_answerTooLong = false;
};
