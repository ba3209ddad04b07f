// What the packet log adds to the accounting step: AccountPacket with each
// layout against AccountPacket without a log, for small, middle-sized and
// full-size packets, IPv4 (BM_AccountPacketWithLog) and IPv6
// (BM_AccountIpv6PacketWithLog, whose addresses are written compressed). The log goes to a file in the temporary folder with a
// 64 MiB limit. The log's own thread writes the file; the figures are the
// capture thread's, with the records dropped when that writer fell behind
// in `lost`.
//
// BM_RecordReachesTheFile: on a quiet link, how long one record takes from
// its packet to the file, while the log stays open (`late`: those that
// took longer than a second, or never came before the log closed).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "log/packet_log.h"
#include "table/traffic_list.h"

namespace {

constexpr int kNoLog = -1;
constexpr int kConnections = 256;

std::vector<std::uint8_t> MakePacket(int n, int totalLength, std::mt19937& random) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(totalLength));
  for (auto& byte : p) byte = static_cast<std::uint8_t>(random());
  p[0] = 0x45;
  p[2] = static_cast<std::uint8_t>(totalLength >> 8);
  p[3] = static_cast<std::uint8_t>(totalLength);
  p[9] = n % 4 == 0 ? 17 : 6;
  const std::uint32_t source = htonl(0x0A000000u + static_cast<std::uint32_t>(n));
  const std::uint32_t destination = htonl(0xC0A80001u);
  std::memcpy(&p[12], &source, 4);
  std::memcpy(&p[16], &destination, 4);
  return p;
}

// TCP or UDP from 2001:db8::n to fd00::1, without extension headers.
std::vector<std::uint8_t> MakeIpv6Packet(int n, int totalLength, std::mt19937& random) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(totalLength));
  for (auto& byte : p) byte = static_cast<std::uint8_t>(random());
  p[0] = 0x60;
  p[4] = static_cast<std::uint8_t>((totalLength - 40) >> 8);
  p[5] = static_cast<std::uint8_t>(totalLength - 40);
  p[6] = n % 4 == 0 ? 17 : 6;
  inet_pton(AF_INET6, ("2001:db8::" + std::to_string(n)).c_str(), &p[8]);
  inet_pton(AF_INET6, "fd00::1", &p[24]);
  return p;
}

CSettings& BenchSettings() {
  static CSettings settings((std::filesystem::temp_directory_path() / "quorvel-bench-log.dat").string());
  return settings;
}

// The table and its log on a file of the temporary folder, opened as a
// capture opens it (no log with kNoLog), and the file gone afterwards.
class BenchLog {
 public:
  BenchLog(const char* fileName, int layout)
      : m_path((std::filesystem::temp_directory_path() / fileName).string()) {
    CSettings& settings = BenchSettings();
    std::strcpy(settings.logfile, m_path.c_str());
    settings.uselogfile = layout != kNoLog;
    settings.logtype = layout;
    settings.mbdelete = 64;
    settings.UpdateLogSizeLimit();
    m_list.SetPacketLog(&m_log);
    m_log.OpenLog("w+");
  }
  ~BenchLog() {
    m_log.CloseLog();
    std::filesystem::remove(m_path);
  }

  CTrafficList& List() { return m_list; }
  CPacketLog& Log() { return m_log; }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  CTrafficList m_list{BenchSettings()};
  CPacketLog m_log{BenchSettings(), m_list.TableLock()};
};

using MakePacketFunction = std::vector<std::uint8_t> (*)(int n, int totalLength, std::mt19937& random);

void AccountPacketsWithLog(benchmark::State& state, MakePacketFunction makePacket) {
  const int layout = static_cast<int>(state.range(0));
  const int totalLength = static_cast<int>(state.range(1));
  BenchLog bench("quorvel-bench-packets.log", layout);
  std::mt19937 random(1);
  std::vector<std::vector<std::uint8_t>> packets;
  for (int n = 0; n < kConnections; ++n) packets.push_back(makePacket(n, totalLength, random));

  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = packets[i++ % kConnections];
    bench.List().AccountPacket(p.data(), p.size());
  }
  bench.Log().CloseLog();
  // The capture thread's share: records its writer could not keep up with
  // are dropped, and counted here.
  state.counters["lost"] = static_cast<double>(bench.Log().LostRecords());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * totalLength);
  state.SetLabel(layout == kNoLog ? "no log" : "layout " + std::to_string(layout));
}

void BM_AccountPacketWithLog(benchmark::State& state) { AccountPacketsWithLog(state, MakePacket); }
BENCHMARK(BM_AccountPacketWithLog)
    ->ArgNames({"layout", "length"})
    ->ArgsProduct({{kNoLog, 0, 1, 2, 3, 4, 5, 6, 7, 8}, {64, 576, 1500}});

void BM_AccountIpv6PacketWithLog(benchmark::State& state) { AccountPacketsWithLog(state, MakeIpv6Packet); }
BENCHMARK(BM_AccountIpv6PacketWithLog)
    ->ArgNames({"layout", "length"})
    ->ArgsProduct({{kNoLog, 0, 1, 2, 3, 4, 5, 6, 7, 8}, {64, 576, 1500}});

off_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

void BM_RecordReachesTheFile(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPatience = std::chrono::milliseconds(1500);
  BenchLog bench("quorvel-bench-quiet.log", 7);
  std::mt19937 random(1);
  const std::vector<std::uint8_t> packet = MakePacket(1, 64, random);
  std::int64_t late = 0;
  for (auto _ : state) {
    const off_t before = FileSize(bench.Path());
    const Clock::time_point start = Clock::now();
    bench.List().AccountPacket(packet.data(), packet.size());
    while (FileSize(bench.Path()) == before && Clock::now() - start < kPatience)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    const Clock::duration took = Clock::now() - start;
    if (took >= std::chrono::seconds(1)) ++late;
    state.SetIterationTime(std::chrono::duration<double>(took).count());
  }
  state.counters["late"] = static_cast<double>(late);
}
BENCHMARK(BM_RecordReachesTheFile)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
