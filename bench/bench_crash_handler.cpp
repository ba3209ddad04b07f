#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <thread>

#include "platform/crash_handler.h"
#include "platform/crash_report.h"
#include "platform/module_map.h"
#include "platform/thread_stack.h"

namespace {

// What every capture and resolver thread pays at its start for its
// alternate signal stack, against a thread that pays nothing.
void BM_ThreadStartAndEnd(benchmark::State& state) {
  const bool prepared = state.range(0) != 0;
  for (auto _ : state) {
    std::thread([prepared] {
      if (prepared) platform::PrepareThreadForCrashReport(platform::ThreadRole::kResolver);
    }).join();
  }
  state.SetLabel(prepared ? "prepared for crash reports" : "bare");
}
BENCHMARK(BM_ThreadStartAndEnd)->Arg(0)->Arg(1)->UseRealTime();

volatile int g_sink = 0;

// Writes the report at the bottom of a chain of `depth` frames.
[[gnu::noinline]] void ReportAtDepth(int depth, int fd) {
  if (depth > 0) {
    ReportAtDepth(depth - 1, fd);
    g_sink = g_sink + 1;  // not a tail call: the frame stays
    return;
  }
  ucontext_t context;
  getcontext(&context);
  siginfo_t info{};
  platform::TakeMemoryMap();
  platform::WriteCrashReport(fd, SIGSEGV, info, context, platform::QueryThreadStack());
}

// How long a faulting user waits for the report itself (to /dev/null, so
// without the disk's time): the map of the process, then one module and
// section lookup per stack frame.
void BM_WriteReport(benchmark::State& state) {
  const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) ReportAtDepth(static_cast<int>(state.range(0)), fd);
  close(fd);
  state.SetLabel("frames below the report");
}
BENCHMARK(BM_WriteReport)->Arg(10)->Arg(500)->Unit(benchmark::kMicrosecond);

}  // namespace
