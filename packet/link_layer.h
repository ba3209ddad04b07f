#pragma once

#include <cstddef>
#include <cstdint>

// Where the network-layer header starts in a frame of a given link type
// (a DLT_ value of the capture library).
//
// Returns the offset, or -1 when the frame carries nothing we can read:
// an unknown link type, or a frame too short to hold its link header.
// Ethernet frames may carry 802.1Q/802.1ad tags; each adds four bytes.
int NetworkLayerOffset(int linkType, const std::uint8_t* frame, std::size_t capturedLength);

// Whether frames of this link type can be read at all.
bool IsKnownLinkType(int linkType);
