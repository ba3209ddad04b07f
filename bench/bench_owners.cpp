// One look at the owners of the machine's sockets, as the refresher's
// thread makes it, at 10k sockets held by 1000 processes: the kernel's
// socket listing, the scan of /proc for the processes that hold them, and
// the join into the table that the refresh pass looks connections up in;
// then one lookup, the only part the capture thread pays for.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "process/local_addresses.h"
#include "process/owner_refresher.h"
#include "process/owner_table.h"
#include "process/proc_socket_scan.h"
#include "process/sock_diag_reader.h"
#include "table/traffic_entry.h"

namespace {

constexpr int kProcesses = 1000;
constexpr int kSocketsEach = 10;

// UDP sockets on loopback, each bound to a port of its own.
bool OpenSockets(int count) {
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  }
  return true;
}

// The benchmark's own 10 sockets and 999 children with 10 each, which sleep
// until the benchmark ends (or dies: the kernel then ends them).
class SocketHolders {
 public:
  SocketHolders() {
    int ready[2];
    if (pipe(ready) != 0) return;
    for (int i = 1; i < kProcesses; ++i) {
      const pid_t child = fork();
      if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(ready[0]);
        const char done = OpenSockets(kSocketsEach) ? 1 : 0;
        if (write(ready[1], &done, 1) != 1) _exit(1);
        close(ready[1]);
        for (;;) pause();
      }
      if (child < 0) break;
      m_children.push_back(child);
    }
    close(ready[1]);
    int opened = 0;
    for (char done = 0; opened < static_cast<int>(m_children.size()) && read(ready[0], &done, 1) == 1;)
      opened += done;
    close(ready[0]);
    // Opened last, so that no child inherits them.
    m_ok = opened == kProcesses - 1 && OpenSockets(kSocketsEach);
  }
  ~SocketHolders() {
    for (const pid_t child : m_children) kill(child, SIGKILL);
    for (const pid_t child : m_children) waitpid(child, nullptr, 0);
  }
  bool Ok() const { return m_ok; }

 private:
  std::vector<pid_t> m_children;
  bool m_ok = false;
};

SocketHolders* holders = nullptr;

bool Skip(benchmark::State& state) {
  if (holders != nullptr && holders->Ok()) return false;
  state.SkipWithError("could not make 1000 processes holding 10 sockets each");
  return true;
}

// The sockets and their holders as one look finds them.
struct Listing {
  std::vector<SocketRecord> sockets;
  ProcessSockets found;

  Listing() {
    CSockDiagReader reader;
    std::string error;
    reader.Read(sockets, error);
    ScanProcessSockets("/proc", found);
  }
};

void BM_SocketListing(benchmark::State& state) {
  if (Skip(state)) return;
  CSockDiagReader reader;
  std::vector<SocketRecord> sockets;
  std::string error;
  for (auto _ : state) reader.Read(sockets, error);
  state.counters["sockets"] = static_cast<double>(sockets.size());
}

void BM_ProcessScan(benchmark::State& state) {
  if (Skip(state)) return;
  ProcessSockets found;
  for (auto _ : state) ScanProcessSockets("/proc", found);
  state.counters["processes"] = found.processes;
  state.counters["held"] = static_cast<double>(found.holders.size());
}

void BM_Join(benchmark::State& state) {
  if (Skip(state)) return;
  const Listing listing;
  const std::vector<IpAddress> local = LocalAddresses();
  CUserNames users;
  for (auto _ : state) {
    COwnerTable table;
    table.Build(listing.sockets, listing.found, local, users);
    benchmark::DoNotOptimize(table.SocketCount());
  }
}

// What the refresher's thread does once per look.
void BM_OneRefresh(benchmark::State& state) {
  if (Skip(state)) return;
  CSockDiagReader reader;
  CUserNames users;
  std::vector<SocketRecord> sockets;
  ProcessSockets found;
  std::string error;
  for (auto _ : state) {
    reader.Read(sockets, error);
    ScanProcessSockets("/proc", found);
    COwnerTable table;
    table.Build(sockets, found, LocalAddresses(), users);
    benchmark::DoNotOptimize(table.SocketCount());
  }
}

// The capture thread's part: one connection looked up when its row appears.
void BM_Lookup(benchmark::State& state) {
  if (Skip(state)) return;
  const Listing listing;
  CUserNames users;
  COwnerTable table;
  table.Build(listing.sockets, listing.found, LocalAddresses(), users);
  std::vector<ConnectionEndpoints> connections;
  for (const SocketRecord& socket : listing.sockets) {
    if (socket.protocol != 17 || socket.local.ipv6) continue;
    ConnectionEndpoints connection;
    connection.protocol = 17;
    connection.source = IpAddress::Ipv4(htonl(0x0A000001));
    connection.sourcePort = htons(5353);
    connection.destination = socket.local;
    connection.destinationPort = socket.localPort;
    connections.push_back(connection);
  }
  std::size_t next = 0, owned = 0;
  ConnectionOwner owner;
  for (auto _ : state) {
    owned += table.Find(connections[next], owner) ? 1 : 0;
    next = next + 1 == connections.size() ? 0 : next + 1;
  }
  benchmark::DoNotOptimize(owned);
}

BENCHMARK(BM_SocketListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Join)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup);

}  // namespace

int main(int argc, char** argv) {
  // 10k sockets and more than 1000 processes may pass the usual limits.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  benchmark::Initialize(&argc, argv);
  SocketHolders made;
  holders = &made;
  benchmark::RunSpecifiedBenchmarks();
  holders = nullptr;
  benchmark::Shutdown();
  return 0;
}
