// The road of a captured frame: the link layer finds the network layer, the
// parser reads the IPv4 or IPv6 packet, and the connection table accounts
// it. The same frames are accounted one by one, as with a packet log open,
// and through the capture thread's batch of runs, as without one; both ways
// must leave the same table.
//
// Input: the link type (one byte, an index into the types Linux hands
// out), the hide and pause switches (one byte), then frames, each a byte of
// seconds since the previous frame, a 16-bit length and that many bytes.
#include <pcap/dlt.h>

#include <atomic>
#include <memory>
#include <vector>

#include "capture/frame_batch.h"
#include "config/settings.h"
#include "fuzz_input.h"
#include "packet/link_layer.h"
#include "packet/packet_parser.h"
#include "table/traffic_list.h"

namespace {

constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_IEEE802, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW,
                              DLT_IPV4,   DLT_NULL,    DLT_LOOP,      DLT_IEEE802_11_RADIO};

CSettings& Settings() {
  static CSettings settings("/nonexistent/quorvel-fuzz/settings.dat");
  return settings;
}

void ExpectSameTables(CTrafficList& single, CTrafficList& batched) {
  fuzz::Check(single.Totals().packets == batched.Totals().packets, "packets");
  fuzz::Check(single.Totals().dataBytes == batched.Totals().dataBytes, "data bytes");
  fuzz::Check(single.Totals().totalBytes == batched.Totals().totalBytes, "total bytes");
  fuzz::Check(single.EntryCount() == batched.EntryCount(), "connections");
  std::uint32_t packets = 0;
  for (std::size_t i = 0; i < single.EntryCount(); ++i) {
    const TrafficEntry& a = single.Entry(i);
    const TrafficEntry& b = batched.Entry(i);
    fuzz::Check(a.key == b.key && a.bytes == b.bytes && a.packets == b.packets, "connection");
    fuzz::Check(a.position == i && b.position == i, "position");
    packets += a.packets;
  }
  if (Settings().paused == 0) fuzz::Check(packets == single.Totals().packets, "every packet in one connection");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const int linkType = kLinkTypes[input.Byte() % std::size(kLinkTypes)];
  const std::uint8_t switches = input.Byte();
  CSettings& settings = Settings();
  settings.filtertcp = switches & 1;
  settings.filterudp = (switches >> 1) & 1;
  settings.filtericmp = (switches >> 2) & 1;
  settings.paused = (switches >> 3) & 1;

  CTrafficList single(settings), batched(settings);
  // The capture thread's own way for the runs; one packet at a time, as
  // with a log open, for the reference.
  const std::atomic<bool> abandoned{false};
  auto batch = std::make_unique<FrameBatch>(batched, linkType, abandoned);
  PacketParser parser;
  std::uint32_t seconds = 0;
  while (!input.Empty()) {
    seconds += input.Byte() % 16;  // fragments may outlive what is remembered of them
    const std::vector<std::uint8_t> frame = input.Bytes(input.Word());
    pcap_pkthdr header{};
    header.ts.tv_sec = seconds;
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
    batch->TakeFrame(header, frame.data());
    const int offset = NetworkLayerOffset(linkType, frame.data(), frame.size());
    if (offset < 0) continue;
    fuzz::Check(IsKnownLinkType(linkType), "an offset for an unknown link type");
    if (frame.size() <= static_cast<std::size_t>(offset)) continue;
    ParsedPacket packet;
    if (!parser.Parse(frame.data() + offset, frame.size() - offset, seconds, packet)) continue;
    fuzz::Check(packet.headerLength <= 15 * 4 || packet.IsIpv6(), "an IPv4 header longer than its field allows");
    single.AccountPacket(packet);
  }
  batch->Flush();
  ExpectSameTables(single, batched);
  return 0;
}
