#include "resolve/host_name_store.h"

#include <utility>

namespace resolve {

namespace {

using Ipv6Bytes = std::array<std::uint8_t, 16>;

void FormatNumber(std::uint32_t ipv4, char (&text)[kDottedAddressSize]) { FormatDottedAddress(ipv4, text); }

void FormatNumber(const Ipv6Bytes& ipv6, char (&text)[IpAddress::kTextSize]) {
  FormatIpAddress(IpAddress::Ipv6(ipv6.data()), text);
}

template <typename Entries>
const char* AnsweredIn(const Entries& entries, const typename Entries::key_type& key) {
  const auto found = entries.find(key);
  if (found == entries.end() || !found->second.answered) return nullptr;
  return found->second.Text();
}

}  // namespace

template <typename Entries>
HostNameStore::Sighting HostNameStore::SightLocked(Entries& entries, const typename Entries::key_type& key) {
  if (m_ipv4.size() + m_ipv6.size() >= m_capacity && entries.find(key) == entries.end()) return {nullptr, false};
  const auto [position, added] = entries.try_emplace(key);
  auto& entry = position->second;
  if (added) FormatNumber(key, entry.number);
  return {entry.Text(), added};
}

HostNameStore::Sighting HostNameStore::Sight(std::uint32_t ipv4) {
  std::lock_guard lock(m_mutex);
  return SightLocked(m_ipv4, ipv4);
}

HostNameStore::Sighting HostNameStore::Sight(const IpAddress& address) {
  if (!address.ipv6) return Sight(address.Ipv4Carried());
  std::lock_guard lock(m_mutex);
  return SightLocked(m_ipv6, address.bytes);
}

const char* HostNameStore::Answered(std::uint32_t ipv4) const {
  std::lock_guard lock(m_mutex);
  return AnsweredIn(m_ipv4, ipv4);
}

const char* HostNameStore::Answered(const IpAddress& address) const {
  if (!address.ipv6) return Answered(address.Ipv4Carried());
  std::lock_guard lock(m_mutex);
  return AnsweredIn(m_ipv6, address.bytes);
}

template <typename Entries>
void HostNameStore::AnswerLocked(Entries& entries, const IpAddress& address, const typename Entries::key_type& key,
                                 std::optional<std::string> name) {
  const auto found = entries.find(key);
  if (found == entries.end() || found->second.answered) return;
  auto& entry = found->second;
  entry.answered = true;
  if (!name || name->empty() || *name == entry.number) return;
  entry.name = std::move(*name);
  m_newlyNamed.push_back(address);
  // Raised under the lock after the list grew: whoever sees the new value
  // and then takes the list finds the address in it.
  m_namesGeneration.fetch_add(1, std::memory_order_release);
}

void HostNameStore::Answer(const IpAddress& address, std::optional<std::string> name) {
  std::lock_guard lock(m_mutex);
  if (address.ipv6)
    AnswerLocked(m_ipv6, address, address.bytes, std::move(name));
  else
    AnswerLocked(m_ipv4, address, address.Ipv4Carried(), std::move(name));
}

std::uint64_t HostNameStore::NamesGeneration() const noexcept {
  return m_namesGeneration.load(std::memory_order_acquire);
}

std::vector<IpAddress> HostNameStore::TakeNewlyNamed() {
  std::vector<IpAddress> taken;
  std::lock_guard lock(m_mutex);
  taken.swap(m_newlyNamed);
  return taken;
}

}  // namespace resolve
