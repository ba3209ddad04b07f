// quorvel_flood_sender INTERFACE RATE SECONDS [KEEP_EVERY [CONNECTIONS]]
//
// Sends small UDP frames (60 bytes, to a MAC address nobody has, port 9)
// again and again on INTERFACE through a packet socket, RATE frames a
// second (0: as fast as it can) for SECONDS, in batches of one system call
// each. With KEEP_EVERY (not 0), every KEEP_EVERY-th frame goes to port 53
// instead: the one a filter "udp port 53" keeps. With CONNECTIONS, the
// frames take turns among that many connections (source addresses and
// ports), one after the other; otherwise all are one connection. Prints
// the number of frames sent.
// Root only; meant for a veth pair of a network namespace of its own
// (bench/live_flood.sh).
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kBatch = 64;

constexpr std::uint32_t kPortsPerAddress = 64000;

// Connection `connection`: from 10.231.250.2 port 5000 for the first, else
// from 10.232.0.0 + connection / kPortsPerAddress, port 1024 + the rest.
std::array<std::uint8_t, 60> Frame(std::uint8_t destinationPort, std::uint32_t connection = 0) {
  std::array<std::uint8_t, 60> frame{};
  const std::uint8_t head[] = {
      0x02, 0x00, 0x00, 0x00, 0x00, 0x99,  // destination: nobody
      0x02, 0x00, 0x00, 0x00, 0x00, 0x02,  // source
      0x08, 0x00,                          // IPv4
      0x45, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00,
      10,   231,  250,  2,    10,   231,  250,  9,     // addresses
      0x13, 0x88, 0x00, destinationPort, 0x00, 0x1A, 0xDE, 0xAD,  // UDP from 5000, wrong checksum
  };
  std::memcpy(frame.data(), head, sizeof head);
  if (connection != 0) {
    const std::uint32_t address = 10u << 24 | 232u << 16 | connection / kPortsPerAddress;
    const std::uint32_t port = 1024 + connection % kPortsPerAddress;
    for (int i = 0; i < 4; ++i) frame[26 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
    frame[34] = static_cast<std::uint8_t>(port >> 8);
    frame[35] = static_cast<std::uint8_t>(port);
  }
  std::uint32_t sum = 0;
  for (int i = 14; i < 34; i += 2) sum += static_cast<std::uint32_t>(frame[i] << 8 | frame[i + 1]);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  frame[24] = static_cast<std::uint8_t>(~sum >> 8);
  frame[25] = static_cast<std::uint8_t>(~sum);
  return frame;
}

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: quorvel_flood_sender INTERFACE RATE SECONDS [KEEP_EVERY [CONNECTIONS]]\n");
    return 2;
  }
  const double rate = std::atof(argv[2]), seconds = std::atof(argv[3]);
  const std::uint64_t keepEvery = argc >= 5 ? std::strtoull(argv[4], nullptr, 10) : 0;
  const std::uint64_t connections = argc == 6 ? std::max<std::uint64_t>(std::strtoull(argv[5], nullptr, 10), 1) : 1;
  const int sock = socket(AF_PACKET, SOCK_RAW, 0);
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(if_nametoindex(argv[1]));
  to.sll_halen = ETH_ALEN;
  if (sock < 0 || to.sll_ifindex == 0) {
    std::perror("quorvel_flood_sender");
    return 1;
  }
  std::array<std::uint8_t, 60> kept = Frame(53);
  iovec keptPiece = {kept.data(), kept.size()};
  std::vector<std::array<std::uint8_t, 60>> frames(connections);
  std::vector<iovec> pieces(connections);
  for (std::uint32_t i = 0; i < connections; ++i) {
    frames[i] = Frame(9, i);
    pieces[i] = {frames[i].data(), frames[i].size()};
  }
  std::vector<mmsghdr> batch(kBatch);
  for (mmsghdr& message : batch) {
    message.msg_hdr.msg_name = &to;
    message.msg_hdr.msg_namelen = sizeof to;
    message.msg_hdr.msg_iov = &pieces[0];
    message.msg_hdr.msg_iovlen = 1;
  }
  const double start = Now(), end = start + seconds;
  std::uint64_t sent = 0;
  for (double now = start; now < end; now = Now()) {
    if (rate > 0 && sent > (now - start) * rate) {
      const double wait = sent / rate - (now - start);
      timespec pause = {static_cast<time_t>(wait), static_cast<long>((wait - static_cast<time_t>(wait)) * 1e9)};
      nanosleep(&pause, nullptr);
      continue;
    }
    if (keepEvery > 0 || connections > 1)
      for (std::uint64_t i = 0; i < kBatch; ++i) {
        const std::uint64_t n = sent + i;
        batch[i].msg_hdr.msg_iov = keepEvery > 0 && n % keepEvery == 0 ? &keptPiece : &pieces[n % connections];
      }
    const int count = sendmmsg(sock, batch.data(), kBatch, 0);
    if (count > 0) sent += static_cast<std::uint64_t>(count);
  }
  std::printf("%llu\n", static_cast<unsigned long long>(sent));
  return 0;
}
