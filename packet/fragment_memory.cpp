#include "packet/fragment_memory.h"

#include <cstring>

FragmentMemory::FragmentMemory() : m_slots(std::make_unique<Slot[]>(kSlots)) {}

FragmentMemory::Key FragmentMemory::KeyOf(const ParsedPacket& packet) {
  Key key;
  key.family = static_cast<std::uint8_t>(packet.family);
  // An IPv6 datagram is named without its protocol, which its later
  // fragments may not show.
  key.protocol = packet.IsIpv6() ? 0 : packet.protocol;
  key.id = packet.fragmentId;
  std::memcpy(key.source, packet.Source(), packet.AddressLength());
  std::memcpy(key.destination, packet.Destination(), packet.AddressLength());
  return key;
}

// FNV-1a over the key's bytes: cheap, and fragments are few.
std::size_t FragmentMemory::SlotOf(const Key& key) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&key);
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < sizeof key; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash % kSlots;
}

void FragmentMemory::Remember(const ParsedPacket& first, std::uint32_t seconds) {
  const Key key = KeyOf(first);
  Slot& slot = m_slots[SlotOf(key)];
  slot.key = key;
  slot.seconds = seconds;
  slot.used = true;
  slot.protocol = first.protocol;
  std::memcpy(slot.ports, first.ports, sizeof slot.ports);
}

bool FragmentMemory::Recall(ParsedPacket& later, std::uint32_t seconds) const {
  const Key key = KeyOf(later);
  const Slot& slot = m_slots[SlotOf(key)];
  if (!slot.used || seconds - slot.seconds > kLifetimeSeconds) return false;
  if (std::memcmp(&slot.key, &key, sizeof key) != 0) return false;
  later.protocol = slot.protocol;
  std::memcpy(later.ports, slot.ports, sizeof later.ports);
  return true;
}
