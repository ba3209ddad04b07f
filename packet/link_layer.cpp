#include "packet/link_layer.h"

#include <pcap/dlt.h>
#include <pcap/sll.h>

namespace {

constexpr int kEthernetHeader = 14;
constexpr int kVlanTag = 4;
constexpr int kMaxVlanTags = 4;  // more than anyone stacks; bounds the walk
constexpr int kTokenRingHeader = 22;
constexpr int kBsdLoopbackHeader = 4;

bool IsVlanTag(std::uint16_t etherType) {
  return etherType == 0x8100 || etherType == 0x88A8 || etherType == 0x9100;
}

int EthernetOffset(const std::uint8_t* frame, std::size_t capturedLength) {
  int offset = kEthernetHeader;
  for (int tags = 0; tags <= kMaxVlanTags; ++tags) {
    if (capturedLength < static_cast<std::size_t>(offset)) return -1;
    const std::uint16_t etherType = static_cast<std::uint16_t>(frame[offset - 2] << 8 | frame[offset - 1]);
    if (!IsVlanTag(etherType)) return offset;
    offset += kVlanTag;
  }
  return -1;
}

int FixedHeaderLength(int linkType) {
  switch (linkType) {
    case DLT_IEEE802: return kTokenRingHeader;
    case DLT_LINUX_SLL: return SLL_HDR_LEN;
    case DLT_LINUX_SLL2: return SLL2_HDR_LEN;
    case DLT_RAW:
    case DLT_IPV4: return 0;
    case DLT_NULL:
    case DLT_LOOP: return kBsdLoopbackHeader;
    default: return -1;
  }
}

}  // namespace

bool IsKnownLinkType(int linkType) { return linkType == DLT_EN10MB || FixedHeaderLength(linkType) >= 0; }

int NetworkLayerOffset(int linkType, const std::uint8_t* frame, std::size_t capturedLength) {
  if (linkType == DLT_EN10MB) return EthernetOffset(frame, capturedLength);
  const int offset = FixedHeaderLength(linkType);
  if (offset < 0 || capturedLength < static_cast<std::size_t>(offset)) return -1;
  return offset;
}
