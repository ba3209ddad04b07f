#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "packet/ip_address.h"
#include "text/dotted_address.h"

namespace resolve {

// The address texts of the host-name cache. It is shared between the cache
// and its resolver threads and lives as long as the last of them, so an
// answer that arrives after the cache is gone still has a place to go.
// Entries are never changed once answered, nor removed.
//
// IPv4 and IPv6 addresses live in two maps side by side, under one lock and
// one bound: an IPv4 entry keeps its 4-byte key and room for the dotted
// text only, as if IPv6 did not exist, and only IPv6 entries pay for the
// longer key and text.
class HostNameStore {
 public:
  // At most `capacity` addresses are kept, of both families together.
  explicit HostNameStore(std::size_t capacity) : m_capacity(capacity) {}

  struct Sighting {
    // The answer when there is one, else the number's text; valid as long
    // as the store. Null for an address that found the store full: it is
    // not kept, nor looked up.
    const char* text;
    // True only for the call that added the address: that caller asks for
    // the reverse lookup, so each address is looked up once.
    bool firstTime;
  };

  // `ipv4` as carried (network byte order); the IpAddress overloads take
  // either family.
  Sighting Sight(std::uint32_t ipv4);
  Sighting Sight(const IpAddress& address);

  // The answered text of an address, or null when it was never seen or its
  // answer is still awaited.
  const char* Answered(std::uint32_t ipv4) const;
  const char* Answered(const IpAddress& address) const;

  // Records the outcome of the one lookup of an address: its name, or on
  // failure (nothing, an empty or numeric answer) the number's text for
  // good.
  void Answer(const IpAddress& address, std::optional<std::string> name);

  // Grows by one with each answer that gave a name; one atomic load.
  std::uint64_t NamesGeneration() const noexcept;

  // The addresses answered with a name since the previous call.
  std::vector<IpAddress> TakeNewlyNamed();

 private:
  template <std::size_t kNumberSize>
  struct Entry {
    char number[kNumberSize];
    std::string name;  // empty while awaited, and for good when no name came
    bool answered = false;

    const char* Text() const { return name.empty() ? number : name.c_str(); }
  };
  using Ipv4Entries = std::unordered_map<std::uint32_t, Entry<kDottedAddressSize>>;
  using Ipv6Entries = std::unordered_map<std::array<std::uint8_t, 16>, Entry<IpAddress::kTextSize>, SeededAddressHash>;

  template <typename Entries>
  Sighting SightLocked(Entries& entries, const typename Entries::key_type& key);
  template <typename Entries>
  void AnswerLocked(Entries& entries, const IpAddress& address, const typename Entries::key_type& key,
                    std::optional<std::string> name);

  const std::size_t m_capacity;
  mutable std::mutex m_mutex;
  Ipv4Entries m_ipv4;
  Ipv6Entries m_ipv6;
  std::vector<IpAddress> m_newlyNamed;
  std::atomic<std::uint64_t> m_namesGeneration{0};
};

}  // namespace resolve
