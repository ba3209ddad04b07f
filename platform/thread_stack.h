#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>

// What the fault handler needs to know about a thread's stack: where it is,
// for the stack walk and to tell a stack overflow from other faults, and a
// stack of its own to run on when the thread's stack is used up.
namespace platform {

struct StackBounds {
  std::uintptr_t low = 0;   // lowest usable address
  std::uintptr_t high = 0;  // one past the highest
  std::size_t guard = 0;    // bytes below `low` that count as its guard area
  bool Known() const { return high > low; }
  bool InGuardArea(std::uintptr_t address) const { return Known() && address < low && low - address <= guard; }
};

// The calling thread's stack as the thread library describes it; unknown
// when it cannot tell. Not for a signal handler.
StackBounds QueryThreadStack();

// Keeps the bounds for the calling thread; RememberedThreadStack() gives
// them back to a handler running on that thread (unknown when never kept).
void RememberThreadStack(const StackBounds& bounds);
const StackBounds& RememberedThreadStack();

// An alternate signal stack for the calling thread while the object lives:
// a fault handler installed with SA_ONSTACK runs on it, so a thread whose
// own stack overflowed can still be reported. Destroy it on the thread that
// made it; it puts back the stack that was there before.
class AlternateSignalStack {
 public:
  AlternateSignalStack();
  ~AlternateSignalStack();
  AlternateSignalStack(const AlternateSignalStack&) = delete;
  AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

 private:
  void* m_mapping = nullptr;
  std::size_t m_mappingBytes = 0;
  stack_t m_previous{};
  bool m_installed = false;
};

}  // namespace platform
