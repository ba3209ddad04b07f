#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "packet/parsed_packet.h"

// What the first fragment of a datagram said of it, for its later
// fragments: they carry no ports, and IPv6's may not even carry the
// protocol. Remembered by (family, source, destination, identification,
// and for IPv4 the protocol) for kLifetimeSeconds at most.
//
// The memory is a fixed number of slots, each datagram in the slot its
// key's hash names: a flood of spoofed first fragments can push out what
// real datagrams left, never grow it. A later fragment whose first was
// pushed out, was never seen or came after it counts with ports 0, as one
// whose first was lost.
class FragmentMemory {
 public:
  static constexpr std::size_t kSlots = 4096;
  static constexpr std::uint32_t kLifetimeSeconds = 30;

  FragmentMemory();

  // A first fragment: its protocol and ports are kept for the others.
  void Remember(const ParsedPacket& first, std::uint32_t seconds);
  // A later fragment: its protocol and ports from its first, when that is
  // still known; false (and nothing changed) otherwise.
  bool Recall(ParsedPacket& later, std::uint32_t seconds) const;

 private:
  struct Key {
    std::uint8_t family = 0;
    std::uint8_t protocol = 0;  // IPv4 only: part of a datagram's name there
    std::uint8_t unused[2] = {0, 0};
    std::uint32_t id = 0;
    std::uint8_t source[16] = {};
    std::uint8_t destination[16] = {};
  };
  struct Slot {
    Key key;
    std::uint32_t seconds = 0;
    bool used = false;
    std::uint8_t protocol = 0;
    std::uint8_t ports[4] = {};
  };
  static Key KeyOf(const ParsedPacket& packet);
  static std::size_t SlotOf(const Key& key);

  std::unique_ptr<Slot[]> m_slots;
};
