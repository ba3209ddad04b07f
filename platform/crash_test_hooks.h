#pragma once

#include "platform/thread_role.h"

// Hooks through which the crash report's tests see it work, and that no
// user sets off by accident: each takes effect only when its environment
// variable starts with kCrashTestToken and a colon. They are read once, when
// the crash handler is installed, and never in a program started with
// raised privileges.
//
//   QUORVEL_DELIBERATE_FAULT=<token>:<kind>@<thread>[+<thread>...]
//     makes the named threads fault when they start (the main thread in
//     main(), a capture or resolver thread first thing). Kinds: null-write
//     (three calls deep), divide-by-zero, ud2, int3, abort,
//     uncaught-exception, stack-overflow, bad-frame-pointer. Threads: main,
//     capture, resolver.
//   QUORVEL_CRASH_MESSAGE_PROGRAM=<token>:<absolute path>
//     the program the handler starts in place of this one to tell the user.
namespace platform {

inline constexpr char kCrashTestToken[] = "quorvel-crash-test-5d83a0c4e19f27b6";
inline constexpr char kDeliberateFaultVariable[] = "QUORVEL_DELIBERATE_FAULT";
inline constexpr char kCrashMessageProgramVariable[] = "QUORVEL_CRASH_MESSAGE_PROGRAM";

enum class FaultKind {
  kNone,
  kNullWrite,
  kDivideByZero,
  kIllegalInstruction,
  kBreakpoint,
  kAbort,
  kUncaughtException,
  kStackOverflow,
  kBadFramePointer,
};

struct DeliberateFault {
  FaultKind kind = FaultKind::kNone;
  unsigned threads = 0;  // one bit per ThreadRole
  bool On(ThreadRole role) const { return kind != FaultKind::kNone && (threads >> static_cast<unsigned>(role) & 1u); }
};

// The fault a variable's value asks for; none unless all of it is right.
DeliberateFault ParseDeliberateFault(const char* value);

// The stand-in message program a variable's value names, or "".
const char* ParseCrashMessageProgram(const char* value);

// Faults in the way asked. Returns only for kNone.
void CommitDeliberateFault(FaultKind kind);

}  // namespace platform
