#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "packet/packet_parser.h"
#include "source/frame_source.h"
#include "table/traffic_list.h"

// The capture thread's side of a source: each frame's network layer found,
// read as a packet and handed to the connection table. IPv4 packets are
// read a run at a time and accounted together, so that the table's trips
// to memory overlap; with a log open each packet goes through on its own,
// as the log needs all its bytes, and so does every IPv6 packet. That is
// decided frame by frame: a log opened in the middle of a run gets every
// frame read after it.
class FrameBatch final : public FrameSink {
 public:
  static constexpr int kCapacity = 256;

  // `abandoned`: the capture thread was given up; from then on no frame
  // reaches the table.
  FrameBatch(CTrafficList& table, int linkType, const std::atomic<bool>& abandoned)
      : m_table(table), m_linkType(linkType), m_abandoned(abandoned) {}

  void TakeFrame(const pcap_pkthdr& header, const std::uint8_t* frame) override;
  // Accounts the frames that wait.
  void Flush();
  bool Abandoned() const { return m_abandoned; }
  // Whether an IP packet came since the last call.
  bool TakePacketSeen();

 private:
  CTrafficList& m_table;
  const int m_linkType;
  const std::atomic<bool>& m_abandoned;
  PacketParser m_parser;
  bool m_gotPacket = false;
  std::size_t m_count = 0;
  CTrafficList::PacketHead m_heads[kCapacity];
};
