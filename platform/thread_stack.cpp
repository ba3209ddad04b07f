#include "platform/thread_stack.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace platform {
namespace {

// Room for the report's own frames and the processor state the kernel
// saves on the stack, which grows with the processor's vector registers.
constexpr std::size_t kMinimumAltStackBytes = 64 * 1024;

// Below the stack the thread library keeps a guard page or more; below the
// main thread's stack the kernel keeps a gap. A function with a large frame
// that overflows may fault a little further down than one page.
constexpr std::size_t kMinimumGuardBytes = 64 * 1024;

__attribute__((tls_model("initial-exec"))) thread_local StackBounds t_stack;

std::size_t PageBytes() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

StackBounds QueryThreadStack() {
  StackBounds bounds;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return bounds;
  void* low = nullptr;
  std::size_t size = 0;
  std::size_t guard = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    bounds.low = reinterpret_cast<std::uintptr_t>(low);
    bounds.high = bounds.low + size;
  }
  pthread_attr_getguardsize(&attributes, &guard);
  bounds.guard = std::max(guard, kMinimumGuardBytes);
  pthread_attr_destroy(&attributes);
  return bounds;
}

void RememberThreadStack(const StackBounds& bounds) { t_stack = bounds; }

const StackBounds& RememberedThreadStack() { return t_stack; }

AlternateSignalStack::AlternateSignalStack() {
  const std::size_t page = PageBytes();
  const long suggested = sysconf(_SC_SIGSTKSZ);
  std::size_t usable = std::max<std::size_t>(kMinimumAltStackBytes, suggested > 0 ? 4 * suggested : 0);
  usable = (usable + page - 1) / page * page;
  // One inaccessible page below it: a handler that overran its stack faults
  // instead of writing over whatever lies there.
  m_mappingBytes = usable + page;
  void* mapping = mmap(nullptr, m_mappingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return;
  m_mapping = mapping;
  mprotect(m_mapping, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(m_mapping) + page;
  stack.ss_size = usable;
  m_installed = sigaltstack(&stack, &m_previous) == 0;
}

AlternateSignalStack::~AlternateSignalStack() {
  if (m_installed) {
    m_previous.ss_flags &= SS_DISABLE;
    sigaltstack(&m_previous, nullptr);
  }
  if (m_mapping != nullptr) munmap(m_mapping, m_mappingBytes);
}

}  // namespace platform
