// Every fault runs in a child process: a copy of the crash probe (the
// program's start with its process-wide objects and the threads a fault may
// come from) in a folder of the test's own, made to fault through the
// handler's test hook. The message process is a stand-in that records its
// arguments, except where the program itself is to tell the user.
#include "platform/crash_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/crash_report_reader.h"
#include "platform/crash_test_hooks.h"
#include "support/elf_sections.h"

namespace {

namespace fs = std::filesystem;
using namespace crash_test;
using testing::HasSubstr;

std::string SectionName(const std::string& module, unsigned section) {
  const std::vector<std::string> names = ElfSectionNames(module);
  return section < names.size() ? names[section] : "<no section " + std::to_string(section) + ">";
}

// The function that holds a logical address of our own program.
std::string OurFunctionAt(const std::string& program, const std::string& module, unsigned section,
                          std::uint64_t offset) {
  EXPECT_EQ(module, program);
  EXPECT_EQ(SectionName(module, section), ".text");
  return FunctionAt(module, ".text", offset);
}

std::string Token(const std::string& value) { return std::string(platform::kCrashTestToken) + ":" + value; }

class CrashHandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (platform::kFaultsLeftToSanitizer)
      GTEST_SKIP() << "a sanitized build leaves faults to the sanitizer, whose own handlers these tests would fight";
    char pattern[] = "/tmp/quorvel-crash-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    // Open to anyone: the record of the message, and a state folder.
    open_ = folder_ / "open";
    fs::create_directory(open_);
    fs::permissions(open_, fs::perms::all);
    program_ = (folder_ / "quorvel").string();
    report_ = (folder_ / "quorvel.RPT").string();
    record_ = open_ / "record";
    UseProgram(QUORVEL_CRASH_PROBE);
    const fs::path recorder = folder_ / "recorder";
    fs::copy_file(QUORVEL_CRASH_MESSAGE_RECORDER, recorder);
    environment_ = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", (folder_ / "home").string()},
        {"XDG_STATE_HOME", (folder_ / "state").string()},
        {platform::kCrashMessageProgramVariable, Token(recorder.string())},
        {"QUORVEL_TEST_RECORD", record_.string()},
        {"QUORVEL_LANG", "zh"},
    };
  }

  void TearDown() override {
    if (folder_.empty()) return;
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
  }

  void UseProgram(const char* original) {
    fs::remove(program_);
    fs::copy_file(original, program_);
  }

  Outcome Crash(const std::string& fault, const std::vector<std::string>& arguments = {},
                uid_t user = kNoUserChange) {
    environment_[platform::kDeliberateFaultVariable] = Token(fault);
    return RunChild(program_, arguments, environment_, folder_ / "stderr", user);
  }

  // Root writes into any folder; everyone else is refused one without the
  // write permission.
  Outcome CrashWithoutWriteAccess(const std::string& fault) {
    if (geteuid() == 0) return Crash(fault, {}, kNobody);
    fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::remove);
    const Outcome outcome = Crash(fault);
    fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::add);
    return outcome;
  }

  static void ExpectCrashExit(const Outcome& outcome) {
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == platform::kCrashExitCode)
        << "status " << outcome.status << "; standard error:\n"
        << outcome.errorText;
  }

  std::vector<std::string> RecordedMessages() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(record_));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  void ExpectOneMessageNaming(const std::string& reportPath) const {
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>{std::string(platform::kCrashMessageArgument) + "\t" + reportPath});
  }

  fs::path folder_;
  fs::path open_;
  fs::path record_;
  std::string program_;
  std::string report_;
  std::map<std::string, std::string> environment_;
};

// ---- Installing ------------------------------------------------------------

void MarkerHandler(int) {}

TEST(CrashHandlerInstallTest, HandlesFaultsWhileItLivesAndPutsBackWhatWasThere) {
  if (platform::kFaultsLeftToSanitizer) GTEST_SKIP() << "a sanitized build leaves faults to the sanitizer";
  const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
  struct sigaction marker{};
  marker.sa_handler = MarkerHandler;
  struct sigaction saved[std::size(signals)];
  for (std::size_t i = 0; i < std::size(signals); ++i) sigaction(signals[i], &marker, &saved[i]);
  {
    const CCrashHandler handler;
    for (const int signal : signals) {
      struct sigaction now{};
      sigaction(signal, nullptr, &now);
      EXPECT_NE(now.sa_handler, MarkerHandler) << signal;
      EXPECT_EQ(now.sa_flags & (SA_SIGINFO | SA_ONSTACK), SA_SIGINFO | SA_ONSTACK) << signal;
    }
    stack_t altStack{};
    sigaltstack(nullptr, &altStack);
    EXPECT_EQ(altStack.ss_flags & SS_DISABLE, 0);
  }
  for (std::size_t i = 0; i < std::size(signals); ++i) {
    struct sigaction now{};
    sigaction(signals[i], &saved[i], &now);
    EXPECT_EQ(now.sa_handler, MarkerHandler) << signals[i];
  }
}

// ---- One fault of each kind ------------------------------------------------

struct FaultCase {
  const char* fault;
  std::uint32_t code;
  const char* name;
  const char* function;  // where it faults in our code; null: inside the C library
};

class FaultKindTest : public CrashHandlerTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultKindTest, LeavesOneReportNamingWhereItHappened) {
  const FaultCase& c = GetParam();
  ExpectCrashExit(Crash(c.fault));
  const std::vector<Report> reports = ReadReports(ReadFile(report_));
  ASSERT_EQ(reports.size(), 1u);
  const Report& report = reports[0];
  EXPECT_EQ(report.code, c.code);
  EXPECT_EQ(report.name, c.name);

  // The fault line and the first stack line both describe the instruction
  // pointer at the fault.
  EXPECT_EQ(report.faultAddress, report.rip);
  ASSERT_FALSE(report.stack.empty());
  const StackLine& first = report.stack[0];
  EXPECT_EQ(first.address, report.rip);
  EXPECT_EQ(first.frame, report.rbp);
  EXPECT_EQ(first.section, report.section);
  EXPECT_EQ(first.offset, report.offset);
  EXPECT_EQ(first.module, report.module);

  if (c.function != nullptr)
    EXPECT_THAT(OurFunctionAt(program_, report.module, report.section, report.offset), HasSubstr(c.function));
  else
    EXPECT_THAT(report.module, HasSubstr("libc.so"));
  ExpectOneMessageNaming(report_);
}

const FaultCase kFaultCases[] = {
    {"null-write@main", 0xC0000005, "ACCESS_VIOLATION", "NullWriteInner"},
    {"divide-by-zero@main", 0xC0000094, "INT_DIVIDE_BY_ZERO", "DivideByZero"},
    {"ud2@main", 0xC000001D, "ILLEGAL_INSTRUCTION", "CommitDeliberateFault"},
    {"int3@main", 0x80000003, "BREAKPOINT", "CommitDeliberateFault"},
    {"abort@main", 0xE0000006, sigdescr_np(SIGABRT), nullptr},
    {"uncaught-exception@main", 0xE0000006, sigdescr_np(SIGABRT), nullptr},
    {"stack-overflow@capture", 0xC00000FD, "STACK_OVERFLOW", "OverflowStack"},
    {"null-write@resolver", 0xC0000005, "ACCESS_VIOLATION", "NullWriteInner"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultKindTest, testing::ValuesIn(kFaultCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           std::string name = info.param.fault;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// ---- The call stack --------------------------------------------------------

TEST_F(CrashHandlerTest, CallStackOfAFaultThreeCallsDeepListsAllThree) {
  ExpectCrashExit(Crash("null-write@main"));
  const std::vector<Report> reports = ReadReports(ReadFile(report_));
  ASSERT_EQ(reports.size(), 1u);
  const std::vector<StackLine>& stack = reports[0].stack;
  const char* const calls[] = {"NullWriteInner", "NullWriteMiddle", "NullWriteOuter"};
  ASSERT_GT(stack.size(), std::size(calls));
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    SCOPED_TRACE(calls[i]);
    EXPECT_THAT(OurFunctionAt(program_, stack[i].module, stack[i].section, stack[i].offset), HasSubstr(calls[i]));
  }
  for (std::size_t i = 1; i < stack.size(); ++i) EXPECT_GT(stack[i].frame, stack[i - 1].frame);
}

TEST_F(CrashHandlerTest, ABadFramePointerWritesExactlyOneStackLine) {
  ExpectCrashExit(Crash("bad-frame-pointer@main"));
  const std::vector<Report> reports = ReadReports(ReadFile(report_));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rbp, 1u);
  EXPECT_EQ(reports[0].stack.size(), 1u);
}

// ---- The report file -------------------------------------------------------

TEST_F(CrashHandlerTest, TwoFaultsInTwoRunsAppendTwoReports) {
  ExpectCrashExit(Crash("divide-by-zero@main"));
  const std::string first = ReadFile(report_);
  ExpectCrashExit(Crash("ud2@main"));
  const std::string both = ReadFile(report_);
  EXPECT_EQ(both.substr(0, first.size()), first);
  const std::vector<Report> reports = ReadReports(both);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].code, 0xC0000094u);
  EXPECT_EQ(reports[1].code, 0xC000001Du);
}

TEST_F(CrashHandlerTest, ASecondFaultingThreadWritesNoReportOfItsOwn) {
  environment_["QUORVEL_TEST_RECORD_DELAY_MS"] = "500";
  ExpectCrashExit(Crash("null-write@capture+resolver"));
  EXPECT_EQ(ReadReports(ReadFile(report_)).size(), 1u);
  EXPECT_EQ(RecordedMessages().size(), 1u);
}

TEST_F(CrashHandlerTest, AFolderThatCannotBeWrittenStillShowsTheMessage) {
  const Outcome outcome = CrashWithoutWriteAccess("null-write@main");
  ExpectCrashExit(outcome);
  EXPECT_FALSE(fs::exists(report_));
  EXPECT_FALSE(fs::exists(folder_ / "state"));
  ExpectOneMessageNaming(report_);
}

TEST_F(CrashHandlerTest, WithoutWriteAccessTheReportGoesToTheUsersStateFolder) {
  environment_["XDG_STATE_HOME"] = (open_ / "state").string();
  ExpectCrashExit(CrashWithoutWriteAccess("null-write@main"));
  const fs::path moved = open_ / "state" / "quorvel" / "quorvel.RPT";
  EXPECT_EQ(ReadReports(ReadFile(moved)).size(), 1u);
  EXPECT_EQ(fs::status(moved.parent_path()).permissions(), fs::perms::owner_all);
  ExpectOneMessageNaming(moved.string());
}

TEST_F(CrashHandlerTest, APlantedLinkIsNotWrittenThrough) {
  const fs::path target = folder_ / "target";
  WriteFile(target, "kept\n");
  fs::create_symlink(target, report_);
  ExpectCrashExit(Crash("null-write@main"));
  EXPECT_EQ(ReadFile(target), "kept\n");
  const fs::path moved = folder_ / "state" / "quorvel" / "quorvel.RPT";
  EXPECT_EQ(ReadReports(ReadFile(moved)).size(), 1u);
  ExpectOneMessageNaming(moved.string());
}

// ---- The end of a crashed run ----------------------------------------------

// The capture thread faults while main returns: the normal exit must not
// run (it would save the settings and end with success).
TEST_F(CrashHandlerTest, ACrashedRunSavesNoSettingsEvenWhenMainEndsMeanwhile) {
  const std::string stored = "[main]\nunits=2\n";
  WriteFile(folder_ / "quorvel.dat", stored);
  environment_["QUORVEL_TEST_RECORD_DELAY_MS"] = "1000";
  ExpectCrashExit(Crash("null-write@capture", {"exit-early"}));
  EXPECT_EQ(ReadFile(folder_ / "quorvel.dat"), stored);
  EXPECT_EQ(ReadReports(ReadFile(report_)).size(), 1u);
}

TEST_F(CrashHandlerTest, WhenNoMessageCanBeShownThePathGoesToStandardError) {
  environment_[platform::kCrashMessageProgramVariable] = Token((folder_ / "no-such-program").string());
  const Outcome outcome = Crash("null-write@main");
  ExpectCrashExit(outcome);
  EXPECT_EQ(outcome.errorText, "Error: " + report_ + "\n");
}

// The real program, with nothing standing in: without a display it tells
// the user on standard error.
TEST_F(CrashHandlerTest, TheProgramTellsTheUserWhereTheReportIs) {
  UseProgram(QUORVEL_PROGRAM);
  environment_.erase(platform::kCrashMessageProgramVariable);
  const Outcome outcome = Crash("null-write@main");
  ExpectCrashExit(outcome);
  EXPECT_THAT(outcome.errorText, testing::StartsWith("Oh...程序出错啦?\n如果您看到这个消息"));
  EXPECT_THAT(outcome.errorText, HasSubstr("请与我们联系 www.quorvel.example\n"));
  EXPECT_THAT(outcome.errorText, testing::EndsWith("修复 file:\n'" + report_ + "'\n"));
  const std::vector<Report> reports = ReadReports(ReadFile(report_));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_THAT(OurFunctionAt(program_, reports[0].module, reports[0].section, reports[0].offset),
              HasSubstr("NullWriteInner"));
}

// The message comes from a new run of the program, which speaks the
// language the crashed run was asked for on its command line.
TEST_F(CrashHandlerTest, TheProgramTellsTheUserInTheLanguageOfTheCrashedRun) {
  UseProgram(QUORVEL_PROGRAM);
  environment_.erase(platform::kCrashMessageProgramVariable);
  const Outcome outcome = Crash("null-write@main", {"--lang", "en"});
  ExpectCrashExit(outcome);
  EXPECT_THAT(outcome.errorText, testing::StartsWith("Oops... Quorvel has crashed.\n"));
  EXPECT_THAT(outcome.errorText, testing::EndsWith("Report file:\n'" + report_ + "'\n"));
}

}  // namespace
