#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/app_files.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"

namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;

struct PortQuery {
  std::uint16_t port;
  std::uint8_t protocol;
};

// Each refresh pass asks twice per new row; the shipped table is the one
// the program searches.
void RunPortLookups(benchmark::State& state, const std::vector<PortQuery>& queries) {
  CServicesParser table(platform::ServicesFilePath());
  table.SetResolve(1);
  std::size_t next = 0;
  for (auto _ : state) {
    const PortQuery& query = queries[next];
    benchmark::DoNotOptimize(table.Lookup(query.port, query.protocol));
    next = next + 1 == queries.size() ? 0 : next + 1;
  }
}

void BM_ServicePortLookupHit(benchmark::State& state) {
  RunPortLookups(state, {{22, kTcp}, {53, kUdp}, {80, kTcp}, {443, kTcp}, {123, kUdp}, {25, kTcp}});
}
BENCHMARK(BM_ServicePortLookupHit);

void BM_ServicePortLookupMiss(benchmark::State& state) {
  RunPortLookups(state, {{40000, kTcp}, {51234, kUdp}, {22, kUdp}, {65535, kTcp}, {3, kUdp}});
}
BENCHMARK(BM_ServicePortLookupMiss);

// A cache that already knows every address it is asked for: the refresh
// pass's common case once names are in.
template <typename Address>
void RunCachedHostNameLookups(benchmark::State& state, const std::vector<Address>& addresses) {
  // Limits wide enough for every address to get its name at once.
  const resolve::HostNameLimits unbounded{.waiting = 1 << 20, .queriesPerSecond = 1e9, .burst = 1e9};
  CNSCashe cache([](const IpAddress&) { return std::optional<std::string>("host.lan"); }, unbounded);
  cache.SetResolve(1);
  for (const Address& address : addresses) cache.Lookup(address);
  for (const Address& address : addresses)
    while (cache.Find(address) == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cache.Lookup(addresses[next]));
    next = next + 1 == addresses.size() ? 0 : next + 1;
  }
}

void BM_HostNameLookupCached(benchmark::State& state) {
  std::vector<std::uint32_t> addresses;
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(state.range(0)); ++i)
    addresses.push_back(htonl(0x0A000000u + i));
  RunCachedHostNameLookups(state, addresses);
}
BENCHMARK(BM_HostNameLookupCached)->Arg(16)->Arg(4096);

void BM_HostNameLookupCachedIpv6(benchmark::State& state) {
  std::vector<IpAddress> addresses;
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(state.range(0)); ++i) {
    std::uint8_t bytes[16] = {0x20, 0x01, 0x0d, 0xb8};
    std::memcpy(bytes + 12, &i, sizeof i);
    addresses.push_back(IpAddress::Ipv6(bytes));
  }
  RunCachedHostNameLookups(state, addresses);
}
BENCHMARK(BM_HostNameLookupCachedIpv6)->Arg(16)->Arg(4096);

void BM_HostNameLookupSwitchedOff(benchmark::State& state) {
  CNSCashe cache([](const IpAddress&) { return std::optional<std::string>(); });
  std::uint32_t address = htonl(0xC0A80001u);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cache.Lookup(address));
    address += 0x01000000u;
  }
}
BENCHMARK(BM_HostNameLookupSwitchedOff);

}  // namespace
