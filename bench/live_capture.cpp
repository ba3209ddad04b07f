// quorvel_bench_live DEVICE SECONDS [FILTER]
//
// Captures on DEVICE for SECONDS with the capture engine as the monitor
// runs it (for a live capture: through the capture helper), with the
// capture filter FILTER when given (installed as the capture starts),
// then prints one line: the packets the engine counted and the processor
// time it took, this process's and its children's (the helper's) apart:
//
//   counted=N cpu_ms=M helper_cpu_ms=H
//
// bench/live_flood.sh runs it in a network namespace against a flood.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "capture/capture_session.h"
#include "capture/counting_traffic_display.h"
#include "capture/traffic_list.h"
#include "config/settings.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"

namespace {

double CpuMilliseconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Waits for the helper's answer; false, with the library's message, when
// the filter was refused.
bool InstallFilter(CaptureSession& session, const char* filter) {
  const std::uint64_t request = session.InstallFilter(filter);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (request != 0 && session.Health().filterReplies < request && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const CaptureHealth health = session.Health();
  if (request != 0 && health.filterReplies >= request && health.filterInstalled) return true;
  std::fprintf(stderr, "quorvel_bench_live: filter not installed: %s\n", health.filterError.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: quorvel_bench_live DEVICE SECONDS [FILTER]\n");
    return 2;
  }
  CSettings settings("/nonexistent/quorvel-bench-live.dat");
  CTrafficList table(settings);
  CountingTrafficDisplay display;
  table.SetDisplay(&display);
  CNSCashe hostNames;
  CServicesParser services("/nonexistent/services");
  {
    CaptureSession session(table, settings, hostNames, services);
    const double before = CpuMilliseconds(RUSAGE_SELF);
    if (session.StartCapture(argv[1]) != 0) return 1;
    if (argc == 4 && !InstallFilter(session, argv[3])) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::atof(argv[2]) * 1000)));
    std::uint32_t counted = 0;
    {
      std::lock_guard lock(table.TableLock());
      counted = table.Totals().packets;
    }
    session.StopCapture();
    std::printf("counted=%u cpu_ms=%.1f helper_cpu_ms=%.1f\n", counted, CpuMilliseconds(RUSAGE_SELF) - before,
                CpuMilliseconds(RUSAGE_CHILDREN));
  }
  table.SetDisplay(nullptr);
  return 0;
}
