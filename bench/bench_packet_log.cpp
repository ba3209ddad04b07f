// What the packet log adds to the accounting step: AccountPacket with each
// layout against AccountPacket without a log, for small, middle-sized and
// full-size packets. The log goes to a file in the temporary folder with a
// 64 MiB limit. The log's own thread writes the file; the figures are the
// capture thread's, with the records dropped when that writer fell behind
// in `lost`.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
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

CSettings& BenchSettings() {
  static CSettings settings((std::filesystem::temp_directory_path() / "quorvel-bench-log.dat").string());
  return settings;
}

void BM_AccountPacketWithLog(benchmark::State& state) {
  const int layout = static_cast<int>(state.range(0));
  const int totalLength = static_cast<int>(state.range(1));
  CSettings& settings = BenchSettings();
  const std::string path = (std::filesystem::temp_directory_path() / "quorvel-bench-packets.log").string();
  std::strcpy(settings.logfile, path.c_str());
  settings.uselogfile = layout != kNoLog;
  settings.logtype = layout;
  settings.mbdelete = 64;
  settings.UpdateLogSizeLimit();

  CTrafficList list(settings);
  CPacketLog log(settings, list.TableLock());
  list.SetPacketLog(&log);
  log.OpenLog("w+");
  std::mt19937 random(1);
  std::vector<std::vector<std::uint8_t>> packets;
  for (int n = 0; n < kConnections; ++n) packets.push_back(MakePacket(n, totalLength, random));

  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = packets[i++ % kConnections];
    list.AccountPacket(p.data(), p.size());
  }
  log.CloseLog();
  std::filesystem::remove(path);
  // The capture thread's share: records its writer could not keep up with
  // are dropped, and counted here.
  state.counters["lost"] = static_cast<double>(log.LostRecords());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * totalLength);
  state.SetLabel(layout == kNoLog ? "no log" : "layout " + std::to_string(layout));
}
BENCHMARK(BM_AccountPacketWithLog)
    ->ArgNames({"layout", "length"})
    ->ArgsProduct({{kNoLog, 0, 1, 2, 3, 4, 5, 6, 7, 8}, {64, 576, 1500}});

}  // namespace
