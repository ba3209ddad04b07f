// The road of a captured frame: the link layer finds the IPv4 header, and
// the connection table accounts the packet. The same frames are accounted
// one by one, as with a packet log open, and in runs, as without one; both
// ways must leave the same table.
//
// Input: the link type (one byte, an index into the types Linux hands
// out), the hide and pause switches (one byte), then frames, each a 16-bit
// length and that many bytes.
#include <pcap/dlt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/settings.h"
#include "fuzz_input.h"
#include "source/link_layer.h"
#include "table/traffic_list.h"

namespace {

constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_IEEE802, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW,
                              DLT_IPV4,   DLT_NULL,    DLT_LOOP,      DLT_IEEE802_11_RADIO};
constexpr std::uint8_t kIpv4With20ByteHeader = 0x45;

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
  std::vector<CTrafficList::PacketHead> heads;
  while (!input.Empty()) {
    const std::vector<std::uint8_t> frame = input.Bytes(input.Word());
    const int offset = NetworkLayerOffset(linkType, frame.data(), frame.size());
    if (offset < 0) continue;
    fuzz::Check(IsKnownLinkType(linkType), "an offset for an unknown link type");
    if (frame.size() <= static_cast<std::size_t>(offset) || frame[offset] != kIpv4With20ByteHeader) continue;
    const std::uint8_t* ip = frame.data() + offset;
    const std::size_t captured = frame.size() - offset;
    single.AccountPacket(ip, captured);
    // As the capture thread keeps a packet for a run: its first bytes.
    CTrafficList::PacketHead& head = heads.emplace_back();
    const std::size_t kept = std::min(captured, CTrafficList::kPacketHeadBytes);
    std::memcpy(head.bytes, ip, kept);
    std::memset(head.bytes + kept, 0, CTrafficList::kPacketHeadBytes - kept);
    head.capturedLength = static_cast<std::uint32_t>(captured);
  }
  batched.AccountPackets(heads.data(), heads.size());
  ExpectSameTables(single, batched);
  return 0;
}
