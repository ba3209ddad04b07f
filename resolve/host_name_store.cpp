#include "resolve/host_name_store.h"

#include <utility>

namespace resolve {

HostNameStore::Sighting HostNameStore::Sight(std::uint32_t address) {
  std::lock_guard lock(m_mutex);
  if (m_entries.size() >= m_capacity && m_entries.find(address) == m_entries.end()) return {nullptr, false};
  const auto [position, added] = m_entries.try_emplace(address);
  Entry& entry = position->second;
  if (added) FormatDottedAddress(address, entry.dotted);
  return {entry.Text(), added};
}

const char* HostNameStore::Answered(std::uint32_t address) const {
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(address);
  if (found == m_entries.end() || !found->second.answered) return nullptr;
  return found->second.Text();
}

void HostNameStore::Answer(std::uint32_t address, std::optional<std::string> name) {
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(address);
  if (found == m_entries.end() || found->second.answered) return;
  Entry& entry = found->second;
  entry.answered = true;
  if (!name || name->empty() || *name == entry.dotted) return;
  entry.name = std::move(*name);
  m_newlyNamed.push_back(address);
  // Raised under the lock after the list grew: whoever sees the new value
  // and then takes the list finds the address in it.
  m_namesGeneration.fetch_add(1, std::memory_order_release);
}

std::uint64_t HostNameStore::NamesGeneration() const noexcept {
  return m_namesGeneration.load(std::memory_order_acquire);
}

std::vector<std::uint32_t> HostNameStore::TakeNewlyNamed() {
  std::vector<std::uint32_t> taken;
  std::lock_guard lock(m_mutex);
  taken.swap(m_newlyNamed);
  return taken;
}

}  // namespace resolve
