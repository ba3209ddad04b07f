#include "platform/crash_test_hooks.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace platform {
namespace {

template <typename T>
struct Named {
  std::string_view name;
  T value;
};

constexpr Named<FaultKind> kKinds[] = {
    {"null-write", FaultKind::kNullWrite},
    {"divide-by-zero", FaultKind::kDivideByZero},
    {"ud2", FaultKind::kIllegalInstruction},
    {"int3", FaultKind::kBreakpoint},
    {"abort", FaultKind::kAbort},
    {"uncaught-exception", FaultKind::kUncaughtException},
    {"stack-overflow", FaultKind::kStackOverflow},
    {"bad-frame-pointer", FaultKind::kBadFramePointer},
};

constexpr Named<ThreadRole> kThreads[] = {
    {"main", ThreadRole::kMain},
    {"capture", ThreadRole::kCapture},
    {"resolver", ThreadRole::kResolver},
};

template <typename T, std::size_t N>
std::optional<T> FindNamed(const Named<T> (&table)[N], std::string_view name) {
  for (const Named<T>& entry : table)
    if (entry.name == name) return entry.value;
  return std::nullopt;
}

// The text after "<token>:", or nothing when the value does not start so.
bool StripToken(std::string_view& value) {
  const std::string_view prefix = kCrashTestToken;
  if (value.size() <= prefix.size() || value.substr(0, prefix.size()) != prefix || value[prefix.size()] != ':')
    return false;
  value.remove_prefix(prefix.size() + 1);
  return true;
}

unsigned ParseThreads(std::string_view list) {
  unsigned threads = 0;
  while (!list.empty()) {
    const auto plus = list.find('+');
    const std::optional<ThreadRole> role = FindNamed(kThreads, list.substr(0, plus));
    if (!role) return 0;
    threads |= 1u << static_cast<unsigned>(*role);
    list = plus == std::string_view::npos ? std::string_view() : list.substr(plus + 1);
  }
  return threads;
}

// Three real calls, none of them a tail call or inlined, so that the call
// stack shows each. Even with frame pointers on, the compiler gives a leaf
// function a frame only when it keeps something on the stack: the
// innermost keeps what it writes there.
int* volatile g_nowhere = nullptr;
volatile bool g_deeper = true;

[[gnu::noinline]] void NullWriteInner() {
  volatile int written = 1;
  *g_nowhere = written;
}
[[gnu::noinline]] void NullWriteMiddle() {
  NullWriteInner();
  asm volatile("");
}
[[gnu::noinline]] void NullWriteOuter() {
  NullWriteMiddle();
  asm volatile("");
}

[[gnu::noinline]] void DivideByZero() {
  volatile int dividend = 1;
  volatile int divisor = 0;
  volatile int quotient = dividend / divisor;
  (void)quotient;
}

// Large frames, each touched from its top down one page at a time, so that
// the first touch past the end of the stack lands in its guard page.
[[gnu::noinline]] void OverflowStack(int depth) {
  constexpr int kFrameBytes = 16384;
  constexpr int kPageBytes = 4096;
  volatile char frame[kFrameBytes];
  for (int i = kFrameBytes - 1; i >= 0; i -= kPageBytes) frame[i] = static_cast<char>(depth);
  if (g_deeper) OverflowStack(depth + 1);
  asm volatile("" : : "r"(frame[0]));
}

}  // namespace

DeliberateFault ParseDeliberateFault(const char* value) {
  if (value == nullptr) return {};
  std::string_view text = value;
  if (!StripToken(text)) return {};
  const auto at = text.find('@');
  if (at == std::string_view::npos) return {};
  const std::optional<FaultKind> kind = FindNamed(kKinds, text.substr(0, at));
  const unsigned threads = ParseThreads(text.substr(at + 1));
  if (!kind || threads == 0) return {};
  return {*kind, threads};
}

const char* ParseCrashMessageProgram(const char* value) {
  if (value == nullptr) return "";
  std::string_view text = value;
  if (!StripToken(text) || text.empty() || text.front() != '/') return "";
  return value + (std::strlen(value) - text.size());
}

void CommitDeliberateFault(FaultKind kind) {
  switch (kind) {
    case FaultKind::kNone: return;
    case FaultKind::kNullWrite: NullWriteOuter(); break;
    case FaultKind::kDivideByZero: DivideByZero(); break;
    case FaultKind::kIllegalInstruction: asm volatile("ud2"); break;
    case FaultKind::kBreakpoint: asm volatile("int3"); break;
    case FaultKind::kAbort: std::abort();
    case FaultKind::kUncaughtException: throw std::runtime_error("deliberate fault");
    case FaultKind::kStackOverflow: OverflowStack(0); break;
    // The walk must stop at a frame pointer that cannot be one.
    case FaultKind::kBadFramePointer: asm volatile("movl $1, %%ebp\n\tud2" ::: "memory"); break;
  }
}

}  // namespace platform
