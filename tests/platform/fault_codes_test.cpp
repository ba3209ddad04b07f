#include "platform/fault_codes.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

namespace {

struct SignalCase {
  int signal;
  int signalCode;
  bool inStackGuard;
  std::uint32_t code;
  const char* name;
};

TEST(FaultCodesTest, EachSignalMapsToTheCodeOfTheSameMeaning) {
  const SignalCase cases[] = {
      {SIGSEGV, SEGV_MAPERR, false, 0xC0000005, "ACCESS_VIOLATION"},
      {SIGSEGV, SEGV_ACCERR, true, 0xC00000FD, "STACK_OVERFLOW"},
      {SIGFPE, FPE_INTDIV, false, 0xC0000094, "INT_DIVIDE_BY_ZERO"},
      {SIGFPE, FPE_INTOVF, false, 0xC0000095, "INT_OVERFLOW"},
      {SIGFPE, FPE_FLTDIV, false, 0xC000008E, "FLT_DIVIDE_BY_ZERO"},
      {SIGFPE, FPE_FLTOVF, false, 0xC0000091, "FLT_OVERFLOW"},
      {SIGFPE, FPE_FLTUND, false, 0xC0000093, "FLT_UNDERFLOW"},
      {SIGFPE, FPE_FLTRES, false, 0xC000008F, "FLT_INEXACT_RESULT"},
      {SIGFPE, FPE_FLTINV, false, 0xC0000090, "FLT_INVALID_OPERATION"},
      {SIGFPE, FPE_FLTSUB, false, 0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
      {SIGILL, ILL_ILLOPN, false, 0xC000001D, "ILLEGAL_INSTRUCTION"},
      {SIGILL, ILL_PRVOPC, false, 0xC0000096, "PRIV_INSTRUCTION"},
      {SIGILL, ILL_PRVREG, false, 0xC0000096, "PRIV_INSTRUCTION"},
      {SIGBUS, BUS_ADRALN, false, 0x80000002, "DATATYPE_MISALIGNMENT"},
      {SIGBUS, BUS_ADRERR, false, 0xC0000006, "IN_PAGE_ERROR"},
      {SIGTRAP, SI_KERNEL, false, 0x80000003, "BREAKPOINT"},
      {SIGTRAP, TRAP_BRKPT, false, 0x80000003, "BREAKPOINT"},
      {SIGTRAP, TRAP_TRACE, false, 0x80000004, "SINGLE_STEP"},
      {SIGTRAP, TRAP_HWBKPT, false, 0x80000004, "SINGLE_STEP"},
      // Signals without a code of their own: the signal's number and the
      // system's description of it.
      {SIGABRT, SI_TKILL, false, 0xE0000006, sigdescr_np(SIGABRT)},
      {SIGFPE, SI_USER, false, 0xE0000008, sigdescr_np(SIGFPE)},
  };
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal << " code " << c.signalCode);
    const std::uint32_t code = platform::FaultCode(c.signal, c.signalCode, c.inStackGuard);
    EXPECT_EQ(code, c.code);
    EXPECT_STREQ(platform::FaultCodeName(code), c.name);
  }
}

TEST(FaultCodesTest, CodesWithoutNameGetAnEmptyOne) {
  EXPECT_STREQ(platform::FaultCodeName(0xC0000001), "");
  EXPECT_STREQ(platform::FaultCodeName(0xE00000FF), "");  // no such signal
  EXPECT_STREQ(platform::FaultCodeName(0x80000001), "GUARD_PAGE");
}

}  // namespace
