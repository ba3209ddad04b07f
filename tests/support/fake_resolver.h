#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "packet/ip_address.h"
#include "resolve/reverse_lookup.h"

// A reverse resolver under the test's control: it answers from a table,
// counts its calls, and can hold every answer until released. Its state is
// shared with the resolver threads, which may outlive both the cache and
// this object.
class FakeResolver {
 public:
  // Threads held longer than this give up and answer anyway, so a broken
  // test cannot hang the run.
  static constexpr std::chrono::seconds kLongestHold{10};

  // An IPv4 address may be given as carried (network byte order).
  void Name(const IpAddress& address, std::string name) {
    std::lock_guard lock(m_state->mutex);
    m_state->names[address] = std::move(name);
  }
  void Name(std::uint32_t ipv4, std::string name) { Name(IpAddress::Ipv4(ipv4), std::move(name)); }
  void Throw(const IpAddress& address) {
    std::lock_guard lock(m_state->mutex);
    m_state->throwing[address] = true;
  }
  void Hold() {
    std::lock_guard lock(m_state->mutex);
    m_state->holding = true;
  }
  void Release() {
    std::lock_guard lock(m_state->mutex);
    m_state->holding = false;
    m_state->released.notify_all();
  }

  int Calls(const IpAddress& address) const {
    return Read([&address](const State& s) {
      const auto found = s.calls.find(address);
      return found == s.calls.end() ? 0 : found->second;
    });
  }
  int Calls(std::uint32_t ipv4) const { return Calls(IpAddress::Ipv4(ipv4)); }
  int TotalCalls() const { return Read([](const State& s) { return s.totalCalls; }); }
  int Returned() const { return Read([](const State& s) { return s.returned; }); }
  int InFlight() const { return Read([](const State& s) { return s.inFlight; }); }
  int MostInFlight() const { return Read([](const State& s) { return s.mostInFlight; }); }

  resolve::ReverseResolver AsResolver() const {
    return [state = m_state](const IpAddress& address) { return state->Resolve(address); };
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable released;
    std::map<IpAddress, std::string> names;
    std::map<IpAddress, bool> throwing;
    std::map<IpAddress, int> calls;
    bool holding = false;
    int totalCalls = 0;
    int returned = 0;
    int inFlight = 0;
    int mostInFlight = 0;

    std::optional<std::string> Resolve(const IpAddress& address) {
      std::unique_lock lock(mutex);
      ++calls[address];
      ++totalCalls;
      if (++inFlight > mostInFlight) mostInFlight = inFlight;
      released.wait_for(lock, kLongestHold, [this] { return !holding; });
      --inFlight;
      ++returned;
      if (throwing.count(address)) throw std::runtime_error("resolver fault");
      const auto found = names.find(address);
      if (found == names.end()) return std::nullopt;
      return found->second;
    }
  };

  template <typename Reader>
  int Read(Reader reader) const {
    std::lock_guard lock(m_state->mutex);
    return reader(*m_state);
  }

  std::shared_ptr<State> m_state = std::make_shared<State>();
};
