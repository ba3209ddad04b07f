#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "resolve/dotted_address.h"

namespace resolve {

// The address texts of the host-name cache. It is shared between the cache
// and its resolver threads and lives as long as the last of them, so an
// answer that arrives after the cache is gone still has a place to go.
// Entries are never changed once answered, nor removed.
class HostNameStore {
 public:
  // At most `capacity` addresses are kept.
  explicit HostNameStore(std::size_t capacity) : m_capacity(capacity) {}

  struct Sighting {
    // The answer when there is one, else the dotted text; valid as long as
    // the store. Null for an address that found the store full: it is not
    // kept, nor looked up.
    const char* text;
    // True only for the call that added the address: that caller asks for
    // the reverse lookup, so each address is looked up once.
    bool firstTime;
  };

  Sighting Sight(std::uint32_t address);

  // The answered text of an address, or null when it was never seen or its
  // answer is still awaited.
  const char* Answered(std::uint32_t address) const;

  // Records the outcome of the one lookup of an address: its name, or on
  // failure (nothing, an empty or numeric answer) the dotted text for good.
  void Answer(std::uint32_t address, std::optional<std::string> name);

  // Grows by one with each answer that gave a name; one atomic load.
  std::uint64_t NamesGeneration() const noexcept;

  // The addresses answered with a name since the previous call.
  std::vector<std::uint32_t> TakeNewlyNamed();

 private:
  struct Entry {
    char dotted[kDottedAddressSize];
    std::string name;  // empty while awaited, and for good when no name came
    bool answered = false;

    const char* Text() const { return name.empty() ? dotted : name.c_str(); }
  };

  const std::size_t m_capacity;
  mutable std::mutex m_mutex;
  std::unordered_map<std::uint32_t, Entry> m_entries;
  std::vector<std::uint32_t> m_newlyNamed;
  std::atomic<std::uint64_t> m_namesGeneration{0};
};

}  // namespace resolve
