#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "packet/ip_address.h"
#include "resolve/host_name_limits.h"
#include "resolve/reverse_lookup.h"

namespace resolve {
class HostNameStore;
class ResolverPool;
}  // namespace resolve

// Host names for the address columns of the traffic list, of IPv4 and IPv6
// addresses alike.
//
// With the switch on, every address is looked up once per process lifetime
// and the outcome kept for good: its name, or its number's text (dotted for
// IPv4, compressed for IPv6) when the lookup failed, even if a name turns
// up later. Lookups run on resolver
// threads, never on the caller's: the capture thread calls Lookup while it
// holds the connection table lock, and a slow resolver must not stall the
// accounting or the window.
//
// The lookups are bounded (resolve::HostNameLimits): a few at once, at a
// steady rate, with a bounded queue of addresses waiting for theirs. An
// address that finds the queue full keeps its number's text for good, as if
// its lookup had failed; one that finds the cache full is shown as a number
// and neither kept nor looked up. Both families share every bound.
//
// Late names. A row inserted before its address was answered shows the
// number's text. The refresh pass mends such rows once:
//   1. each pass compares NamesGeneration() with the value it saw last (one
//      atomic load, nothing else when it is unchanged);
//   2. when it changed, it keeps the new value and then calls
//      TakeNewlyNamed(), which hands over every address answered with a
//      name since the previous take, each address once in the cache's life;
//   3. it sets the address cells of rows showing those addresses to Find().
// Reading the generation before taking means a name that arrives in between
// is either in this take or raises the generation for the next pass, never
// lost. Addresses are reported whatever the switch is when their answer
// arrives; failed lookups are never reported, as their text does not change.
//
// Thread safety: every member may be called from any thread. The cache
// guards its entries with a short mutex of its own, never held during a
// lookup. The switch is atomic, written by the UI and read by the capture
// thread.
class CNSCashe {
 public:
  // Looks names up with the system's resolver.
  CNSCashe();
  // `resolver` may be called from up to `limits.threads` threads at once.
  explicit CNSCashe(resolve::ReverseResolver resolver, const resolve::HostNameLimits& limits = {});
  // Returns at once, even while a lookup hangs: its late answer lands in
  // state that the resolver thread itself keeps alive.
  virtual ~CNSCashe();

  CNSCashe(const CNSCashe&) = delete;
  CNSCashe& operator=(const CNSCashe&) = delete;

  // 0 switches resolution off, anything else on; the cache is kept either
  // way. Returns the previous value.
  std::int32_t SetResolve(std::int32_t value);
  bool IsResolving() const { return m_resolve.load() != 0; }

  // The answered text of an address: its name or, for a failed lookup, its
  // number's text. Null when the address was never seen with the switch on
  // or its answer is still awaited. `ipv4` as carried (network byte order).
  const char* Find(std::uint32_t ipv4) const;
  const char* Find(const IpAddress& address) const;

  // The text to show for an address; never null and never blocks.
  // - Switch off: the number's text in a per-thread buffer, valid until the
  //   next such call on the same thread; nothing is stored or looked up.
  // - Switch on: the answered text when there is one; otherwise the
  //   number's text while the one lookup of the address runs, started by
  //   the first such call. Valid until the cache is destroyed. No allocation
  //   once the address is known. With the cache full, a new address gets
  //   its number's text as with the switch off.
  const char* Lookup(std::uint32_t ipv4);
  const char* Lookup(const IpAddress& address);

  // Grows with each address answered with a name. See "Late names".
  std::uint64_t NamesGeneration() const noexcept;

  // The addresses answered with a name since the previous take, in no
  // particular order. See "Late names".
  std::vector<IpAddress> TakeNewlyNamed();

 private:
  // The stored text of an address while the switch is on, asking for its
  // lookup when the address is new; null when the switch is off or the
  // store is full.
  template <typename Address>
  const char* Sight(const Address& address);

  std::atomic<std::int32_t> m_resolve{0};
  std::shared_ptr<resolve::HostNameStore> m_store;
  std::shared_ptr<resolve::ResolverPool> m_pool;
};
