#pragma once

#include "platform/thread_role.h"

// The crash report. When a thread of the program faults (an invalid memory
// access, a stack overflow, a division by zero, an illegal instruction, a
// breakpoint, a bus error, or an abort, which is how an uncaught exception
// or a failed check ends), the handler appends a report of the fault to the
// report file, starts a fresh process of the program that tells the user
// where the report is, waits for it, and ends the process with exit code
// 255. Nothing else of the program runs after a fault: the settings are not
// saved.

namespace platform {

// The argument, followed by the report's path, with which the handler
// starts the program to tell the user. Only the handler passes it.
inline constexpr char kCrashMessageArgument[] = "--quorvel-crash-message";

inline constexpr int kCrashExitCode = 255;

// A sanitizer reports a fault better than we can and needs the fault
// signals itself; a sanitized build leaves faults to it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kFaultsLeftToSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
inline constexpr bool kFaultsLeftToSanitizer = true;
#else
inline constexpr bool kFaultsLeftToSanitizer = false;
#endif
#else
inline constexpr bool kFaultsLeftToSanitizer = false;
#endif

// Call first thing on every thread the program starts, and in main() once
// every process-wide object exists.
// - A started thread gets an alternate signal stack, freed when it ends, so
//   that its faults are reported even when its own stack overflowed.
// - On the main thread it makes a normal exit that begins while a fault is
//   being reported wait for the report to end the process instead.
void PrepareThreadForCrashReport(ThreadRole role);

}  // namespace platform

// Installs the fault handler for the process while it lives; its destructor
// puts back the handlers that were there before. The process-wide instance
// is built before every other process-wide object and destroyed after all
// of them. In the process that only tells the user about a crash it does
// nothing, so that a crash of that process cannot start another.
class CCrashHandler {
 public:
  CCrashHandler();
  ~CCrashHandler();
  CCrashHandler(const CCrashHandler&) = delete;
  CCrashHandler& operator=(const CCrashHandler&) = delete;
};
