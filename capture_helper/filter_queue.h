#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// The filter requests that wait while another is being compiled. Every
// request is answered once, in the order they came; of those that came
// meanwhile only the newest is compiled, and the ones it replaced are
// answered as superseded before it. However many come, what waits is one
// request and a count.
class FilterQueue {
 public:
  struct Request {
    std::string expression;
    std::string refusal;  // not empty: answered with this, never compiled
  };
  enum class Next { kNothing, kSuperseded, kRequest };

  void Push(Request request) {
    if (m_waiting) ++m_superseded;
    m_waiting = std::move(request);
  }

  // What is to be answered next, once nothing is being compiled: a
  // superseded request, or the newest, which `request` then holds.
  Next Take(Request& request) {
    if (m_superseded != 0) {
      --m_superseded;
      return Next::kSuperseded;
    }
    if (!m_waiting) return Next::kNothing;
    request = std::move(*m_waiting);
    m_waiting.reset();
    return Next::kRequest;
  }

  bool Empty() const { return m_superseded == 0 && !m_waiting; }

 private:
  std::uint64_t m_superseded = 0;
  std::optional<Request> m_waiting;
};
