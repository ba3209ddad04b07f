#include "capture/frame_batch.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "source/link_layer.h"

namespace {

constexpr std::uint8_t kIpv4With20ByteHeader = 0x45;

}  // namespace

void FrameBatch::TakeFrame(const pcap_pkthdr& header, const std::uint8_t* frame) {
  if (Abandoned()) return;
  const int offset = NetworkLayerOffset(m_linkType, frame, header.caplen);
  if (offset < 0 || header.caplen <= static_cast<bpf_u_int32>(offset)) return;
  if (frame[offset] != kIpv4With20ByteHeader) return;
  m_gotIpv4Frame = true;
  const std::uint8_t* ip = frame + offset;
  const std::size_t captured = header.caplen - offset;
  if (m_table.NeedsWholePackets()) {
    Flush();  // the frames read before it go first, in order
    m_table.AccountPacket(ip, captured);
    return;
  }
  CTrafficList::PacketHead& head = m_heads[m_count++];
  const std::size_t kept = std::min(captured, CTrafficList::kPacketHeadBytes);
  std::memcpy(head.bytes, ip, kept);
  std::memset(head.bytes + kept, 0, CTrafficList::kPacketHeadBytes - kept);
  head.capturedLength = static_cast<std::uint32_t>(captured);
  if (m_count == kCapacity) Flush();
}

void FrameBatch::Flush() {
  if (m_count != 0) m_table.AccountPackets(m_heads, m_count);
  m_count = 0;
}

bool FrameBatch::TakeIpv4Seen() { return std::exchange(m_gotIpv4Frame, false); }
