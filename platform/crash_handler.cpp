#include "platform/crash_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/app_files.h"
#include "platform/crash_report.h"
#include "platform/crash_test_hooks.h"
#include "platform/module_map.h"
#include "platform/signal_safe_writer.h"
#include "platform/thread_stack.h"
#include "platform/user_message.h"

namespace platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr int kExecFailedExitCode = 127;

// Everything the handler uses is fixed when it is installed; the handler
// itself only reads it.
struct sigaction g_previousActions[std::size(kFaultSignals)];
bool g_installed = false;
AlternateSignalStack* g_mainThreadAltStack = nullptr;
char g_reportPath[PATH_MAX];
char g_stateFolderPath[PATH_MAX];
char g_stateReportPath[PATH_MAX];
char g_messageProgram[PATH_MAX] = "/proc/self/exe";
char g_messageProgramName[PATH_MAX];
DeliberateFault g_deliberateFault;

// The thread that reports a fault, and how far it got.
enum Stage : int { kWritingReport, kTellingUser };
std::atomic<pid_t> g_reportingThread{0};
std::atomic<int> g_stage{kWritingReport};
const char* volatile g_reportUsed = g_reportPath;

bool CopyPath(const std::string& path, char (&destination)[PATH_MAX]) {
  if (path.size() >= PATH_MAX) return false;
  std::memcpy(destination, path.c_str(), path.size() + 1);
  return true;
}

bool IsMainThread() { return gettid() == getpid(); }

// The program started only to tell the user about a crash.
bool IsCrashMessageRun() {
  std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
  std::string program;
  std::string first;
  std::getline(commandLine, program, '\0');
  std::getline(commandLine, first, '\0');
  return first == kCrashMessageArgument;
}

void FixPaths() {
  CopyPath(CrashReportFilePath(), g_reportPath);
  if (CopyPath(FallbackCrashReportFilePath(), g_stateReportPath)) CopyPath(UserStateFolderPath(), g_stateFolderPath);
  g_reportUsed = g_reportPath[0] != '\0' ? g_reportPath : g_stateReportPath;
  std::string name = ExecutablePath();
  if (name.empty()) name = g_messageProgram;
  CopyPath(name, g_messageProgramName);
}

// The test hooks; a program with raised privileges sees no such variable.
void ReadTestHooks() {
  g_deliberateFault = ParseDeliberateFault(secure_getenv(kDeliberateFaultVariable));
  const std::string standIn = ParseCrashMessageProgram(secure_getenv(kCrashMessageProgramVariable));
  if (!standIn.empty() && CopyPath(standIn, g_messageProgram)) CopyPath(standIn, g_messageProgramName);
}

[[noreturn]] void WaitForProcessEnd() {
  for (;;) pause();
}

// Appends to a regular file of our own with one name only. A link, or a
// file that another user could have put there, is never written through.
int OpenReportFile(const char* path) {
  if (path[0] == '\0') return -1;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_SYNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                      0644);
  if (fd < 0) return -1;
  struct stat file;
  if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink != 1 || file.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

int OpenSomeReportFile() {
  int fd = OpenReportFile(g_reportPath);
  if (fd >= 0) return fd;
  if (g_stateReportPath[0] == '\0') return -1;
  MakeUserFolders(g_stateFolderPath);
  fd = OpenReportFile(g_stateReportPath);
  if (fd >= 0) g_reportUsed = g_stateReportPath;
  return fd;
}

// The faulting thread's stack: as kept when the thread started, or else
// the writable mapping that holds its stack pointer.
StackBounds FaultingThreadStack(const ucontext_t& context) {
  StackBounds stack = RememberedThreadStack();
  if (stack.Known()) return stack;
  const MappedRegion* region = FindMappedRegion(static_cast<std::uint64_t>(context.uc_mcontext.gregs[REG_RSP]));
  if (region != nullptr && region->writable) {
    stack.low = region->start;
    stack.high = region->end;
  }
  return stack;
}

void WriteReport(int signal, const siginfo_t& info, const ucontext_t& context) {
  const int fd = OpenSomeReportFile();
  if (fd < 0) return;
  TakeMemoryMap();
  WriteCrashReport(fd, signal, info, context, FaultingThreadStack(context));
  close(fd);
}

// Starts the program afresh to show the message, waits until the user has
// closed it, and ends the process. Where that cannot be done, the report's
// path at least goes to standard error.
[[noreturn]] void TellUserAndEnd(const char* reportPath) {
  char* const arguments[] = {g_messageProgramName, const_cast<char*>(kCrashMessageArgument),
                             const_cast<char*>(reportPath), nullptr};
  const pid_t child = _Fork();
  if (child == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(g_messageProgram, arguments, environ);
    _exit(kExecFailedExitCode);
  }
  int status = 0;
  bool told = false;
  if (child > 0) {
    pid_t waited;
    do waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    told = waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  if (!told) {
    SignalSafeWriter error(STDERR_FILENO);
    error.Text(MessageCaption(MessageKind::kError)).Text(": ").Text(reportPath).Text("\n");
  }
  _exit(kCrashExitCode);
}

// Only async-signal-safe calls from here on. Another thread that faults
// meanwhile leaves the report to the first and waits for the process to
// end; a fault inside the handler itself goes on to telling the user.
void OnFault(int signal, siginfo_t* info, void* context) {
  const pid_t self = gettid();
  pid_t reporter = 0;
  if (!g_reportingThread.compare_exchange_strong(reporter, self)) {
    if (reporter != self) WaitForProcessEnd();
    if (g_stage.exchange(kTellingUser) == kTellingUser) _exit(kCrashExitCode);
    TellUserAndEnd(g_reportUsed);
  }
  WriteReport(signal, *info, *static_cast<const ucontext_t*>(context));
  g_stage.store(kTellingUser);
  TellUserAndEnd(g_reportUsed);
}

void InstallHandlers() {
  struct sigaction action{};
  action.sa_sigaction = OnFault;
  // SA_NODEFER lets a fault inside the handler reach it again instead of
  // killing the process before the user was told.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
    sigaction(kFaultSignals[i], &action, &g_previousActions[i]);
  g_installed = true;
}

void WaitIfFaultBeingReported() {
  const pid_t reporter = g_reportingThread.load();
  if (reporter != 0 && reporter != gettid()) WaitForProcessEnd();
}

}  // namespace

void PrepareThreadForCrashReport(ThreadRole role) {
  if constexpr (!kFaultsLeftToSanitizer) {
    if (!IsMainThread()) {
      static thread_local AlternateSignalStack t_altStack;
      RememberThreadStack(QueryThreadStack());
    } else if (role == ThreadRole::kMain) {
      // Exit handlers registered now run before the destructors of every
      // process-wide object, the settings' among them.
      static const bool registered = std::atexit(WaitIfFaultBeingReported) == 0;
      (void)registered;
    }
  }
  if (g_deliberateFault.On(role)) CommitDeliberateFault(g_deliberateFault.kind);
}

}  // namespace platform

CCrashHandler::CCrashHandler() {
  using namespace platform;
  if (kFaultsLeftToSanitizer || IsCrashMessageRun()) return;
  FixPaths();
  ReadTestHooks();
  g_mainThreadAltStack = new AlternateSignalStack;
  RememberThreadStack(QueryThreadStack());
  InstallHandlers();
}

CCrashHandler::~CCrashHandler() {
  using namespace platform;
  if (!g_installed) return;
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) sigaction(kFaultSignals[i], &g_previousActions[i], nullptr);
  g_installed = false;
  delete g_mainThreadAltStack;
  g_mainThreadAltStack = nullptr;
}
