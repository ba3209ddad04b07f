#include "platform/fault_codes.h"

#include <signal.h>

#include <cstring>

namespace platform {
namespace {

struct NamedCode {
  std::uint32_t code;
  const char* name;
};

constexpr NamedCode kNames[] = {
    {0x80000001, "GUARD_PAGE"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "FLT_INVALID_OPERATION"},
    {0xC0000091, "FLT_OVERFLOW"},
    {0xC0000092, "FLT_STACK_CHECK"},
    {0xC0000093, "FLT_UNDERFLOW"},
    {0xC0000094, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "INT_OVERFLOW"},
    {0xC0000096, "PRIV_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
};

constexpr std::uint32_t kDatatypeMisalignment = 0x80000002;
constexpr std::uint32_t kBreakpoint = 0x80000003;
constexpr std::uint32_t kSingleStep = 0x80000004;
constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kInPageError = 0xC0000006;
constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr std::uint32_t kStackOverflow = 0xC00000FD;

std::uint32_t FromSignal(int signal) { return kSignalCodeBase | static_cast<std::uint32_t>(signal); }

std::uint32_t FloatingPointCode(int signalCode) {
  switch (signalCode) {
    case FPE_INTDIV: return 0xC0000094;
    case FPE_INTOVF: return 0xC0000095;
    case FPE_FLTDIV: return 0xC000008E;
    case FPE_FLTOVF: return 0xC0000091;
    case FPE_FLTUND: return 0xC0000093;
    case FPE_FLTRES: return 0xC000008F;
    case FPE_FLTINV: return 0xC0000090;
    case FPE_FLTSUB: return 0xC000008C;
    default: return FromSignal(SIGFPE);  // sent by a process, or a kind without a code
  }
}

// A hardware breakpoint or watchpoint counts as a single step, as the
// processor reports both through the same debug exception.
bool IsStepTrap(int signalCode) {
  return signalCode == TRAP_TRACE || signalCode == TRAP_BRANCH || signalCode == TRAP_HWBKPT;
}

}  // namespace

std::uint32_t FaultCode(int signal, int signalCode, bool inStackGuard) {
  switch (signal) {
    case SIGSEGV: return inStackGuard ? kStackOverflow : kAccessViolation;
    case SIGBUS: return signalCode == BUS_ADRALN ? kDatatypeMisalignment : kInPageError;
    case SIGILL:
      return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? kPrivilegedInstruction : kIllegalInstruction;
    case SIGTRAP: return IsStepTrap(signalCode) ? kSingleStep : kBreakpoint;
    case SIGFPE: return FloatingPointCode(signalCode);
    default: return FromSignal(signal);
  }
}

const char* FaultCodeName(std::uint32_t code) {
  for (const NamedCode& entry : kNames)
    if (entry.code == code) return entry.name;
  if ((code & 0xFFFFFF00u) == kSignalCodeBase) {
    const char* description = sigdescr_np(static_cast<int>(code & 0xFFu));
    if (description != nullptr) return description;
  }
  return "";
}

}  // namespace platform
