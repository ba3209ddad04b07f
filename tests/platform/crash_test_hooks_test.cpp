#include "platform/crash_test_hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::FaultKind;
using platform::ThreadRole;

std::string Token(const std::string& rest) { return std::string(platform::kCrashTestToken) + rest; }

unsigned Bit(ThreadRole role) { return 1u << static_cast<unsigned>(role); }

struct HookCase {
  std::string value;
  FaultKind kind;
  unsigned threads;
};

// Nothing but the whole, exact value sets off a fault.
TEST(CrashTestHooksTest, DeliberateFaultNeedsTheTokenAKindAndKnownThreads) {
  const HookCase cases[] = {
      {Token(":null-write@main"), FaultKind::kNullWrite, Bit(ThreadRole::kMain)},
      {Token(":stack-overflow@capture+resolver"), FaultKind::kStackOverflow,
       Bit(ThreadRole::kCapture) | Bit(ThreadRole::kResolver)},
      {"null-write@main", FaultKind::kNone, 0},
      {Token("x:null-write@main"), FaultKind::kNone, 0},
      {Token(":null-write"), FaultKind::kNone, 0},
      {Token(":null-write@"), FaultKind::kNone, 0},
      {Token(":bogus@main"), FaultKind::kNone, 0},
      {Token(":null-write@main+bogus"), FaultKind::kNone, 0},
      {"", FaultKind::kNone, 0},
  };
  for (const HookCase& c : cases) {
    const platform::DeliberateFault fault = platform::ParseDeliberateFault(c.value.c_str());
    EXPECT_EQ(fault.kind, c.kind) << c.value;
    EXPECT_EQ(fault.threads, c.threads) << c.value;
  }
  EXPECT_EQ(platform::ParseDeliberateFault(nullptr).kind, FaultKind::kNone);
}

TEST(CrashTestHooksTest, MessageProgramNeedsTheTokenAndAnAbsolutePath) {
  EXPECT_STREQ(platform::ParseCrashMessageProgram(Token(":/opt/recorder").c_str()), "/opt/recorder");
  EXPECT_STREQ(platform::ParseCrashMessageProgram(Token(":recorder").c_str()), "");
  EXPECT_STREQ(platform::ParseCrashMessageProgram(Token(":").c_str()), "");
  EXPECT_STREQ(platform::ParseCrashMessageProgram("/opt/recorder"), "");
  EXPECT_STREQ(platform::ParseCrashMessageProgram(nullptr), "");
}

}  // namespace
