#include "capture_helper/filter_compiler.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "support/slow_filter.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits on the compiler as the helper's loop does, until it answers.
FilterCompiler::Result Compile(FilterCompiler& compiler, const std::string& expression) {
  FilterCompiler::Result result;
  std::string error;
  if (!compiler.Start(expression, error)) {
    ADD_FAILURE() << error;
    return result;
  }
  EXPECT_TRUE(compiler.Busy());
  while (!compiler.Advance(result)) {
    pollfd waiting[2] = {{compiler.AnswerFd(), POLLIN, 0}, {compiler.ChildFd(), POLLIN, 0}};
    poll(waiting, 2, 50);
  }
  EXPECT_FALSE(compiler.Busy());
  return result;
}

std::vector<bpf_insn> CompiledHere(pcap_t* handle, const std::string& expression) {
  bpf_program program{};
  EXPECT_EQ(pcap_compile(handle, &program, expression.c_str(), 0, PCAP_NETMASK_UNKNOWN), 0);
  std::vector<bpf_insn> instructions(program.bf_insns, program.bf_insns + program.bf_len);
  pcap_freecode(&program);
  return instructions;
}

bool SameProgram(const std::vector<bpf_insn>& a, const std::vector<bpf_insn>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].code != b[i].code || a[i].jt != b[i].jt || a[i].jf != b[i].jf || a[i].k != b[i].k) return false;
  }
  return true;
}

// The child's program is the one the library compiles here; its refusal
// is the library's text; a compile that outlasts the limit is ended in
// time. No child is left behind by any of them.
TEST(FilterCompilerTest, AnswersAsTheLibraryWouldAndEndsSlowCompiles) {
  pcap_t* handle = pcap_open_dead(DLT_EN10MB, 262144);
  const struct {
    const char* name;
    std::string expression;
    int limitMs;
    bool compiled;
    const char* error;
  } cases[] = {
      {"a filter", "udp port 9 or tcp dst port 80", 30000, true, ""},
      {"no filter", "", 30000, true, ""},
      {"a filter of thousands of instructions", ManyPortsFilter(40), 30000, true, ""},
      {"a syntax error", "udp port", 30000, false, "can't parse filter expression: syntax error"},
      {"a filter that takes minutes", ManyPortsFilter(2400), 500, false, "filter took longer than 500 ms to compile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FilterCompiler compiler(handle, c.limitMs);
    const auto start = Clock::now();
    const FilterCompiler::Result result = Compile(compiler, c.expression);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.limitMs + 1000));
    EXPECT_EQ(result.compiled, c.compiled);
    EXPECT_EQ(result.error, c.error);
    if (c.compiled) {
      EXPECT_TRUE(SameProgram(result.program, CompiledHere(handle, c.expression)));
    }
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  pcap_close(handle);
}

// A compile in flight is ended at once when asked, or when its compiler
// goes.
TEST(FilterCompilerTest, CancelEndsTheChild) {
  pcap_t* handle = pcap_open_dead(DLT_EN10MB, 262144);
  std::string error;
  {
    FilterCompiler compiler(handle, 60000);
    ASSERT_TRUE(compiler.Start(ManyPortsFilter(2400), error)) << error;
    compiler.Cancel();
    EXPECT_FALSE(compiler.Busy());
    ASSERT_TRUE(compiler.Start(ManyPortsFilter(2400), error)) << error;
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "reaped";
  pcap_close(handle);
}

}  // namespace
