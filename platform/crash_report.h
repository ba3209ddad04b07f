#pragma once

#include <signal.h>
#include <ucontext.h>

#include "platform/thread_stack.h"

namespace platform {

// Writes one crash report to `fd`: the separator line, the fault code and
// name, the fault address as module, section and offset, the registers at
// the fault, the call stack along the saved frame pointers within `stack`,
// and the empty line that closes the report. Line feeds only.
// Async-signal-safe; call TakeMemoryMap() first.
void WriteCrashReport(int fd, int signal, const siginfo_t& info, const ucontext_t& context,
                      const StackBounds& stack);

}  // namespace platform
