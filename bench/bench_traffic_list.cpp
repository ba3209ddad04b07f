// Cost of accounting one packet as the table grows, of creating
// connections, and of hiding a protocol over a large table.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "packet/packet_parser.h"
#include "table/counting_traffic_display.h"
#include "table/traffic_list.h"

namespace {

using Packet = std::array<std::uint8_t, 64>;

Packet MakePacket(std::uint32_t n, std::uint8_t protocol = 6) {
  Packet p{};
  p[0] = 0x45;
  p[3] = 200;  // total length
  p[9] = protocol;
  const std::uint32_t source = htonl(0x0A000000u + (n >> 8));
  const std::uint32_t destination = htonl(0xC0A80001u);
  const std::uint16_t sourcePort = htons(static_cast<std::uint16_t>(1024 + (n & 0xFF)));
  const std::uint16_t destinationPort = htons(443);
  std::memcpy(&p[12], &source, 4);
  std::memcpy(&p[16], &destination, 4);
  std::memcpy(&p[20], &sourcePort, 2);
  std::memcpy(&p[22], &destinationPort, 2);
  return p;
}

// Settings on a scratch file that nothing reads afterwards.
CSettings& BenchSettings() {
  static CSettings settings((std::filesystem::temp_directory_path() / "quorvel-bench.dat").string());
  return settings;
}

struct Table {
  CountingTrafficDisplay display;
  CTrafficList list{BenchSettings()};
  std::vector<Packet> packets;

  // `ownSources`: every other source address is this machine's own, so
  // that half the connections count as sent, in no order.
  explicit Table(std::size_t connections, std::uint8_t protocolMix = 0, bool ownSources = false) {
    list.SetDisplay(&display);
    if (ownSources) {
      std::vector<IpAddress> own;
      for (std::uint32_t host = 0; host <= connections >> 8; host += 2)
        own.push_back(IpAddress::Ipv4(htonl(0x0A000000u + host)));
      list.SetLocalAddresses(std::move(own));
    }
    packets.reserve(connections);
    for (std::size_t n = 0; n < connections; ++n) {
      const std::uint8_t protocol = protocolMix && n % 2 ? 17 : 6;
      packets.push_back(MakePacket(static_cast<std::uint32_t>(n), protocol));
      list.AccountPacket(packets.back().data(), packets.back().size());
    }
  }
};

// A packet of a connection already in the table, the connection drawn at
// random for every packet, so that large tables pay for their cache misses.
// The packets lie one after another, as in the capture's ring buffer.
void BM_AccountKnownConnection(benchmark::State& state) {
  Table table(static_cast<std::size_t>(state.range(0)));
  std::mt19937 random(1);
  std::vector<Packet> stream(1 << 16);
  for (auto& p : stream) p = table.packets[random() % table.packets.size()];
  std::size_t i = 0;
  for (auto _ : state) {
    const Packet& p = stream[i++ & (stream.size() - 1)];
    table.list.AccountPacket(p.data(), p.size());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AccountKnownConnection)->Arg(1000)->Arg(100000)->Arg(1000000);

// The same, handed over in runs of 256 as the capture thread does.
void AccountKnownConnectionsInRuns(benchmark::State& state, bool halfSent) {
  Table table(static_cast<std::size_t>(state.range(0)), 0, halfSent);
  std::mt19937 random(1);
  constexpr std::size_t kRun = 256;
  std::vector<CTrafficList::PacketHead> stream(1 << 16);
  for (auto& head : stream) {
    const Packet& packet = table.packets[random() % table.packets.size()];
    ParsedPacket parsed;
    ParseIpPacket(packet.data(), packet.size(), parsed);
    head = CTrafficList::HeadOf(parsed);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    table.list.AccountPackets(&stream[i], kRun);
    i = (i + kRun) & (stream.size() - 1);
  }
  state.SetItemsProcessed(state.iterations() * kRun);
}
void BM_AccountKnownConnectionsInRuns(benchmark::State& state) { AccountKnownConnectionsInRuns(state, false); }
BENCHMARK(BM_AccountKnownConnectionsInRuns)->Arg(1000)->Arg(100000)->Arg(1000000);
// Half of them sent by this machine: what the split of the totals costs.
void BM_AccountKnownConnectionsInRunsHalfSent(benchmark::State& state) { AccountKnownConnectionsInRuns(state, true); }
BENCHMARK(BM_AccountKnownConnectionsInRunsHalfSent)->Arg(1000)->Arg(100000)->Arg(1000000);

// The same connection again and again: the table's cost without misses.
void BM_AccountSameConnection(benchmark::State& state) {
  Table table(static_cast<std::size_t>(state.range(0)));
  const Packet& p = table.packets[table.packets.size() / 2];
  for (auto _ : state) table.list.AccountPacket(p.data(), p.size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AccountSameConnection)->Arg(1000)->Arg(1000000);

// Every packet opens a new connection; the table is emptied every 1M.
void BM_AccountNewConnections(benchmark::State& state) {
  Table table(0);
  std::uint32_t n = 0;
  for (auto _ : state) {
    const Packet p = MakePacket(n++);
    table.list.AccountPacket(p.data(), p.size());
    if (n == 1000000) {
      state.PauseTiming();
      table.list.RemoveAll();
      n = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AccountNewConnections);

// Hiding UDP in a table of TCP and UDP connections, every one shown as a row.
void BM_RemoveProtocol(benchmark::State& state) {
  const auto connections = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>(connections, 1);
    for (std::size_t i = 0; i < table->list.EntryCount(); ++i) {
      TrafficEntry& entry = table->list.Entry(i);
      entry.row = table->display.InsertRow(table->display.ItemCount(), "", entry, Ipv4EndpointsOf(entry.key));
    }
    state.ResumeTiming();
    table->list.RemoveProtocol(17);
    state.PauseTiming();
    benchmark::DoNotOptimize(table->list.EntryCount());
    table.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RemoveProtocol)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
