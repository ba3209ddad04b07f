// The refresh pass over many shown rows: a full pass when every row had
// traffic, a partial pass, and the pass that shows many new connections.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "config/settings.h"
#include "platform/tick_count.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/counting_traffic_display.h"
#include "table/pass_schedule.h"
#include "table/refresh_pass.h"
#include "table/traffic_list.h"

namespace {

std::filesystem::path Scratch(const char* name) { return std::filesystem::temp_directory_path() / name; }

struct Pipeline {
  CSettings settings{Scratch("quorvel-bench-pass.dat").string()};
  CNSCashe hostNames;
  CServicesParser services;  // the shipped file beside the program
  CountingTrafficDisplay display;
  CTrafficList table{settings};
  PassSchedule schedule;
  CRefreshPass pass{table, settings, hostNames, services, schedule};

  explicit Pipeline(std::size_t connections) {
    settings.idlemsec = 60000;
    services.SetResolve(1);
    table.SetDisplay(&display);
    schedule.running = 1;
    platform::SetTestTickCount(1000);
    AccountAll(connections);
  }
  ~Pipeline() { table.SetDisplay(nullptr); }

  void AccountAll(std::size_t connections) {
    for (std::uint32_t n = 0; n < connections; ++n) Account(n);
  }

  // One packet for each of `count` connections drawn at random among the first `connections`.
  void AccountSome(std::size_t connections, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Account(static_cast<std::uint32_t>(random() % connections));
  }

  void Account(std::uint32_t n) {
    std::uint8_t packet[24] = {0x45, 0, 0x05, 0xDC, 0, 0, 0, 0, 64, 6};
    const std::uint32_t destination = htonl(0xC0A80001u);
    const std::uint32_t source = htonl(0x0A000000u + (n >> 4));
    const std::uint16_t ports[2] = {htons(static_cast<std::uint16_t>(40000 + (n & 15))), htons(443)};
    std::memcpy(&packet[12], &source, 4);
    std::memcpy(&packet[16], &destination, 4);
    std::memcpy(&packet[20], ports, 4);
    table.AccountPacket(packet, sizeof packet);
  }

  // Times passes over all the connections, each after `traffic` accounted
  // packets `stepMs` after the previous pass.
  template <typename Traffic>
  void TimePasses(benchmark::State& state, bool full, std::uint32_t stepMs, Traffic traffic) {
    std::uint32_t now = platform::TickCount();
    for (auto _ : state) {
      state.PauseTiming();
      schedule.previousPassTick = now;
      now += stepMs;
      platform::SetTestTickCount(now);
      traffic();
      state.ResumeTiming();
      pass.RefreshPass(full);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(table.EntryCount()));
  }

  std::mt19937 random{1};
};

void BM_PassShowingNewConnections(benchmark::State& state) {
  const auto connections = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto pipeline = std::make_unique<Pipeline>(connections);
    state.ResumeTiming();
    pipeline->pass.RefreshPass(false);
    state.PauseTiming();
    pipeline.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(connections));
  platform::ReleaseTestTickCount();
}
BENCHMARK(BM_PassShowingNewConnections)->Arg(100000)->Unit(benchmark::kMillisecond);

// Every shown row had traffic since the previous pass: every cell is written.
void BM_PassOverShownRows(benchmark::State& state) {
  const auto connections = static_cast<std::size_t>(state.range(0));
  const bool full = state.range(1) != 0;
  Pipeline pipeline(connections);
  pipeline.pass.RefreshPass(false);
  pipeline.TimePasses(state, full, 1000, [&] { pipeline.AccountAll(connections); });
  platform::ReleaseTestTickCount();
}
BENCHMARK(BM_PassOverShownRows)->Args({100000, 1})->Args({100000, 0})->Args({1000000, 0})->Unit(benchmark::kMillisecond);

// A partial pass over a million shown rows after packets of some of them
// (1%, 26% and 95% of the rows, scattered over the table) since the
// previous pass; the third argument 1 makes it walk the whole table as
// every pass once did.
void BM_PartialPassAfterSomeTraffic(benchmark::State& state) {
  const auto connections = static_cast<std::size_t>(state.range(0));
  const auto active = static_cast<std::size_t>(state.range(1));
  Pipeline pipeline(connections);
  pipeline.pass.WalkWholeTable(state.range(2) != 0);
  pipeline.pass.RefreshPass(true);
  pipeline.TimePasses(state, false, 100, [&] { pipeline.AccountSome(connections, active); });
  platform::ReleaseTestTickCount();
}
BENCHMARK(BM_PartialPassAfterSomeTraffic)
    ->Args({1000000, 10000, 0})
    ->Args({1000000, 10000, 1})
    ->Args({1000000, 300000, 0})
    ->Args({1000000, 300000, 1})
    ->Args({1000000, 3000000, 0})
    ->Args({1000000, 3000000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
