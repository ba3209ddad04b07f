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

  void Name(std::uint32_t address, std::string name) {
    std::lock_guard lock(m_state->mutex);
    m_state->names[address] = std::move(name);
  }
  void Throw(std::uint32_t address) {
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

  int Calls(std::uint32_t address) const {
    return Read([address](const State& s) {
      const auto found = s.calls.find(address);
      return found == s.calls.end() ? 0 : found->second;
    });
  }
  int TotalCalls() const { return Read([](const State& s) { return s.totalCalls; }); }
  int Returned() const { return Read([](const State& s) { return s.returned; }); }
  int InFlight() const { return Read([](const State& s) { return s.inFlight; }); }
  int MostInFlight() const { return Read([](const State& s) { return s.mostInFlight; }); }

  resolve::ReverseResolver AsResolver() const {
    return [state = m_state](std::uint32_t address) { return state->Resolve(address); };
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable released;
    std::map<std::uint32_t, std::string> names;
    std::map<std::uint32_t, bool> throwing;
    std::map<std::uint32_t, int> calls;
    bool holding = false;
    int totalCalls = 0;
    int returned = 0;
    int inFlight = 0;
    int mostInFlight = 0;

    std::optional<std::string> Resolve(std::uint32_t address) {
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
