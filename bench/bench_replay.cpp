// The capture engine over a capture file against the bare read loop of the
// capture library over the same file: the physical limit of the pipeline.
// Traffic is uniformly random over the connections. Both are timed by the
// clock and by the processor time the process spent, which other work on a
// busy machine disturbs less.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>

#include <time.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "capture/capture_session.h"
#include "config/settings.h"
#include "log/packet_log.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "scratch_folder.h"
#include "support/ip_packet.h"
#include "support/link_frames.h"
#include "support/pcap_writer.h"
#include "table/counting_traffic_display.h"
#include "table/traffic_list.h"

namespace {

constexpr std::size_t kPacketsPerFile = 4000000;

std::filesystem::path BenchFolder() { return ScratchFolder("quorvel-bench-replay"); }

// A file of kPacketsPerFile Ethernet frames, each of a connection drawn
// uniformly from `connections`, captured at 64 bytes as a snap length would.
// The connections' addresses lie close together (sixteen ports each) unless
// `randomAddresses`: then every connection has addresses and ports drawn at
// random, as the keys of a busy server's clients are.
std::string TrafficFile(std::size_t connections, bool randomAddresses = false) {
  const std::string path =
      (BenchFolder() / ((randomAddresses ? "random-" : "uniform-") + std::to_string(connections) + ".pcap")).string();
  if (std::filesystem::exists(path)) return path;
  PcapWriter writer(path + ".part", DLT_EN10MB, 64);
  std::mt19937 random(static_cast<unsigned>(connections));
  IpPacket packet;
  packet.protocol = 17;
  packet.totalLength = 1400;
  packet.destination = 0xC0A80001u;
  packet.destinationPort = 443;
  std::vector<IpPacket> drawn;
  if (randomAddresses) {
    drawn.resize(connections, packet);
    for (IpPacket& connection : drawn) {
      connection.source = static_cast<std::uint32_t>(random());
      connection.destination = static_cast<std::uint32_t>(random());
      connection.sourcePort = static_cast<std::uint16_t>(random());
      connection.destinationPort = static_cast<std::uint16_t>(random());
    }
  }
  for (std::size_t i = 0; i < kPacketsPerFile; ++i) {
    const std::uint32_t n = static_cast<std::uint32_t>(random() % connections);
    if (randomAddresses) {
      packet = drawn[n];
    } else {
      packet.source = 0x0A000000u + (n >> 4);
      packet.sourcePort = static_cast<std::uint16_t>(1024 + (n & 15));
    }
    const std::vector<std::uint8_t> frame = LinkFrame(DLT_EN10MB, packet.Bytes());
    writer.Write(frame.data(), 64, static_cast<std::uint32_t>(frame.size()));
  }
  writer.Close();
  std::filesystem::rename(path + ".part", path);
  return path;
}

struct Times {
  double seconds = 0;
  double processorSeconds = 0;
  Times& operator+=(const Times& other) {
    seconds += other.seconds;
    processorSeconds += other.processorSeconds;
    return *this;
  }
};

// Clock and processor time from its construction.
class Stopwatch {
 public:
  Times Elapsed() const { return {Now() - m_start.seconds, Processor() - m_start.processorSeconds}; }

 private:
  static double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  static double Processor() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
  }
  Times m_start{Now(), Processor()};
};

Times BareLoopTimes(const std::string& path) {
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_open_offline(path.c_str(), error);
  const Stopwatch stopwatch;
  pcap_pkthdr* header;
  const u_char* data;
  std::uint64_t bytes = 0;
  while (pcap_next_ex(handle, &header, &data) > 0) bytes += data[14];
  benchmark::DoNotOptimize(bytes);
  const Times times = stopwatch.Elapsed();
  pcap_close(handle);
  return times;
}

// `logAttached`: a packet log is there but off, as in the window, so that
// every frame asks whether it is open.
Times ReplayTimes(const std::string& path, std::size_t& connections, bool logAttached = false) {
  CSettings settings((BenchFolder() / "settings.dat").string());
  settings.idlemsec = std::numeric_limits<std::uint32_t>::max();
  settings.uselogfile = 0;
  CTrafficList table(settings);
  CountingTrafficDisplay display;
  table.SetDisplay(&display);
  CPacketLog log(settings, table.TableLock());
  if (logAttached) table.SetPacketLog(&log);
  CNSCashe hostNames;
  CServicesParser services((BenchFolder() / "none").string());
  CaptureSession session(table, settings, hostNames, services);
  if (logAttached) session.SetPacketLog(&log);
  std::string error;
  const Stopwatch stopwatch;
  if (session.StartReplay(path.c_str(), error) != 0) return {-1, -1};
  session.WaitForThreadEnd();
  const Times times = stopwatch.Elapsed();
  session.StopCapture();
  connections = table.EntryCount();
  table.SetDisplay(nullptr);
  return times;
}

// One iteration reads the file both ways; the counters give both times per
// packet and their ratio. A second argument of 1 draws the addresses at
// random.
void BM_ReplayAgainstBareLoop(benchmark::State& state) {
  const std::string path = TrafficFile(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  Times bare, replay;
  std::size_t connections = 0;
  for (auto _ : state) {
    bare += BareLoopTimes(path);
    replay += ReplayTimes(path, connections);
  }
  const double packets = static_cast<double>(kPacketsPerFile) * static_cast<double>(state.iterations());
  state.counters["bare_ns_per_packet"] = bare.seconds / packets * 1e9;
  state.counters["replay_ns_per_packet"] = replay.seconds / packets * 1e9;
  state.counters["ratio"] = replay.seconds / bare.seconds;
  state.counters["processor_ratio"] = replay.processorSeconds / bare.processorSeconds;
  state.counters["connections"] = static_cast<double>(connections);
}
BENCHMARK(BM_ReplayAgainstBareLoop)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The same replay with the packet log of the window attached but off: the
// cost of deciding for every frame whether it goes to the log.
void BM_ReplayWithLogAttachedButOff(benchmark::State& state) {
  const std::string path = TrafficFile(static_cast<std::size_t>(state.range(0)));
  Times without, with;
  std::size_t connections = 0;
  for (auto _ : state) {
    without += ReplayTimes(path, connections);
    with += ReplayTimes(path, connections, true);
  }
  const double packets = static_cast<double>(kPacketsPerFile) * static_cast<double>(state.iterations());
  state.counters["no_log_ns_per_packet"] = without.seconds / packets * 1e9;
  state.counters["log_off_ns_per_packet"] = with.seconds / packets * 1e9;
  state.counters["ratio"] = with.seconds / without.seconds;
}
BENCHMARK(BM_ReplayWithLogAttachedButOff)->Arg(1000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
