#include "capture/frame_batch.h"

#include <utility>

#include "packet/link_layer.h"

void FrameBatch::TakeFrame(const pcap_pkthdr& header, const std::uint8_t* frame) {
  if (Abandoned()) return;
  const int offset = NetworkLayerOffset(m_linkType, frame, header.caplen);
  if (offset < 0 || header.caplen <= static_cast<bpf_u_int32>(offset)) return;
  ParsedPacket packet;
  const auto seconds = static_cast<std::uint32_t>(header.ts.tv_sec);
  if (!m_parser.Parse(frame + offset, header.caplen - offset, seconds, packet)) return;
  m_gotPacket = true;
  if (packet.IsIpv6() || m_table.NeedsWholePackets()) {
    Flush();  // the frames read before it go first, in order
    m_table.AccountPacket(packet);
    return;
  }
  m_heads[m_count++] = CTrafficList::HeadOf(packet);
  if (m_count == kCapacity) Flush();
}

void FrameBatch::Flush() {
  if (m_count != 0) m_table.AccountPackets(m_heads, m_count);
  m_count = 0;
}

bool FrameBatch::TakePacketSeen() { return std::exchange(m_gotPacket, false); }
