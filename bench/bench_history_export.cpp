// What the history costs per closed connection, and an export of 100k
// connections step by step: taking the list's records under the table's
// lock (the capture waits meanwhile), writing the text, and the safe
// rewrite of the file.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/whole_file.h"
#include "scratch_folder.h"
#include "table/connection_history.h"
#include "table/traffic_list.h"
#include "ui/connection_export.h"

namespace {

constexpr std::size_t kConnections = 100000;

CSettings& BenchSettings() {
  static CSettings settings((std::filesystem::temp_directory_path() / "quorvel-bench-export.dat").string());
  return settings;
}

ClosedConnection Closed(std::uint32_t n) {
  ClosedConnection closed;
  closed.endpoints.source = IpAddress::Ipv4(htonl(0x0A000000u + n));
  closed.endpoints.destination = IpAddress::Ipv4(htonl(0xC0A80001u));
  closed.endpoints.sourcePort = htons(static_cast<std::uint16_t>(1024 + n % 60000));
  closed.endpoints.destinationPort = htons(443);
  closed.endpoints.protocol = 6;
  closed.bytes = 1000 + n;
  closed.packets = 10;
  closed.firstSeen = n;
  closed.lastSeen = n + 2500;
  closed.closedAt = n + 12500;
  closed.owner.pid = static_cast<std::int32_t>(1000 + n % 50);
  CopyOwnerName(closed.owner.program, "firefox-bin");
  closed.owner.uidKnown = true;
  closed.owner.uid = 1000;
  CopyOwnerName(closed.owner.user, "alice");
  return closed;
}

// A full history: each connection pushes the oldest out, and the window
// collects ten times a second's worth at a time.
void BM_HistoryConnectionClosed(benchmark::State& state) {
  CConnectionHistory history(kConnections);
  std::uint32_t n = 0;
  for (; n < kConnections; ++n) history.ConnectionClosed(Closed(n));
  history.Collect();
  for (auto _ : state) {
    history.ConnectionClosed(Closed(++n));
    if (n % 1000 == 0) history.Collect();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HistoryConnectionClosed);

std::vector<ConnectionRecord> HistoryRecords() {
  CConnectionHistory history(kConnections);
  for (std::uint32_t n = 0; n < kConnections; ++n) history.ConnectionClosed(Closed(n));
  history.Collect();
  std::vector<ConnectionRecord> records;
  for (std::size_t i = 0; i < history.Size(); ++i) records.push_back(HistoryRecord(history, history.At(i)));
  return records;
}

void BM_ListRecords100k(benchmark::State& state) {
  CTrafficList table(BenchSettings());
  for (std::uint32_t n = 0; n < kConnections; ++n) {
    std::array<std::uint8_t, 40> packet{0x45, 0, 0, 200};
    packet[9] = 6;
    const std::uint32_t source = htonl(0x0A000000u + n);
    std::memcpy(&packet[12], &source, 4);
    table.AccountPacket(packet.data(), packet.size());
  }
  for (auto _ : state) benchmark::DoNotOptimize(ListRecords(table));
  state.SetItemsProcessed(state.iterations() * kConnections);
}
BENCHMARK(BM_ListRecords100k)->Unit(benchmark::kMillisecond);

std::string Text(ExportFormat format, const std::vector<ConnectionRecord>& records) {
  const ExportColumns columns{true, true};
  std::string text = ExportHeader(format, columns);
  for (const ConnectionRecord& record : records) AppendExportLine(text, format, columns, record);
  return text;
}

void BM_ExportText100k(benchmark::State& state) {
  const std::vector<ConnectionRecord> records = HistoryRecords();
  const auto format = static_cast<ExportFormat>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Text(format, records));
  state.SetLabel(format == ExportFormat::kCsv ? "csv" : "jsonl");
}
BENCHMARK(BM_ExportText100k)->Arg(static_cast<int>(ExportFormat::kCsv))
    ->Arg(static_cast<int>(ExportFormat::kJsonLines))->Unit(benchmark::kMillisecond);

void BM_ExportRewrite100k(benchmark::State& state) {
  const std::string text = Text(ExportFormat::kCsv, HistoryRecords());
  const std::filesystem::path folder = ScratchFolder("quorvel-bench-export");
  const std::string path = (folder / "history.csv").string();
  for (auto _ : state)
    if (!platform::RewriteFile(path, [&text](const std::string&) { return text; })) state.SkipWithError("not written");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  std::filesystem::remove_all(folder);  // 13 MB that nothing reuses
}
BENCHMARK(BM_ExportRewrite100k)->Unit(benchmark::kMillisecond);

}  // namespace
