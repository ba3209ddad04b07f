#include "capture_helper/helper_sandbox.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#if defined(__x86_64__)
#define QUORVEL_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define QUORVEL_AUDIT_ARCH AUDIT_ARCH_AARCH64
#else
#error "the capture helper's system-call filter knows x86-64 and AArch64 only"
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kKeepDumpableSwitch = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kKeepDumpableSwitch = true;
#else
constexpr bool kKeepDumpableSwitch = false;
#endif
#else
constexpr bool kKeepDumpableSwitch = false;
#endif

constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW;
constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | EPERM;
constexpr std::uint32_t kKill = SECCOMP_RET_KILL_PROCESS;

// The low half of an argument: the kernel reads descriptors, domains and
// option numbers as 32-bit values and ignores the rest.
constexpr std::uint32_t ArgumentOffset(int argument) {
  return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + sizeof(std::uint64_t) * argument);
}

// The filter as a list of instructions. Every rule below checks one system
// call number and, when it matches, decides there: a rule that does not
// match jumps over itself to the next one with the number still loaded.
class FilterProgram {
 public:
  void Load(std::uint32_t offset) { Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
  void Return(std::uint32_t action) { Add(BPF_STMT(BPF_RET | BPF_K, action)); }

  void RefuseCalls(std::initializer_list<long> calls) {
    for (const long call : calls) {
      Add(Jump(BPF_JEQ, call, 0, 1));
      Return(kRefuse);
    }
  }

  // `matching` when the argument equals one of `values`, else `otherwise`.
  void DecideByArgument(long call, int argument, std::initializer_list<std::uint32_t> values,
                        std::uint32_t matching, std::uint32_t otherwise) {
    Add(Jump(BPF_JEQ, call, 0, static_cast<std::uint8_t>(values.size() + 3)));
    Load(ArgumentOffset(argument));
    std::uint8_t left = static_cast<std::uint8_t>(values.size());
    for (const std::uint32_t value : values) Add(Jump(BPF_JEQ, value, left--, 0));
    Return(otherwise);
    Return(matching);
  }
  void RefuseWhen(long call, int argument, std::initializer_list<std::uint32_t> values) {
    DecideByArgument(call, argument, values, kRefuse, kAllow);
  }

  // Refused when the descriptor (the first argument) is below `lowest` or
  // is `packetFd`.
  void RefuseBelowOr(long call, std::uint32_t lowest, std::uint32_t packetFd) {
    Add(Jump(BPF_JEQ, call, 0, 5));
    Load(ArgumentOffset(0));
    Add(Jump(BPF_JGE, lowest, 0, 2));
    Add(Jump(BPF_JEQ, packetFd, 1, 0));
    Return(kAllow);
    Return(kRefuse);
  }

  // On the packet socket, only a capture filter may be attached or
  // detached.
  void AllowOnlyFilterOptions(std::uint32_t packetFd) {
    Add(Jump(BPF_JEQ, SYS_setsockopt, 0, 9));
    Load(ArgumentOffset(0));
    Add(Jump(BPF_JEQ, packetFd, 0, 5));
    Load(ArgumentOffset(1));
    Add(Jump(BPF_JEQ, SOL_SOCKET, 0, 4));
    Load(ArgumentOffset(2));
    Add(Jump(BPF_JEQ, SO_ATTACH_FILTER, 1, 0));
    Add(Jump(BPF_JEQ, SO_DETACH_FILTER, 0, 1));
    Return(kAllow);
    Return(kRefuse);
  }

  // Another architecture's system calls have other numbers: the rules
  // would not know them.
  void RequireOwnArchitecture() {
    Load(offsetof(seccomp_data, arch));
    Add(Jump(BPF_JEQ, QUORVEL_AUDIT_ARCH, 1, 0));
    Return(kKill);
    Load(offsetof(seccomp_data, nr));
#if defined(__x86_64__)
    Add(Jump(BPF_JGE, __X32_SYSCALL_BIT, 0, 1));
    Return(kKill);
#endif
  }

  // For every thread of the process, a library's included.
  bool Install() {
    sock_fprog program = {static_cast<unsigned short>(m_code.size()), m_code.data()};
    return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
  }

 private:
  static sock_filter Jump(std::uint16_t test, long value, std::uint8_t ifTrue, std::uint8_t ifFalse) {
    return BPF_JUMP(BPF_JMP | test | BPF_K, static_cast<std::uint32_t>(value), ifTrue, ifFalse);
  }
  void Add(sock_filter instruction) { m_code.push_back(instruction); }

  std::vector<sock_filter> m_code;
};

}  // namespace

bool DumpableSwitchLeftAlone() { return kKeepDumpableSwitch; }

bool MakeUndumpable() { return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0; }

bool ConfineToCapture(int packetFd) {
  const auto packet = static_cast<std::uint32_t>(packetFd);
  FilterProgram filter;
  filter.RequireOwnArchitecture();
  filter.RefuseCalls({SYS_execve, SYS_execveat, SYS_dup, SYS_dup3, SYS_pidfd_getfd, SYS_socketpair, SYS_io_setup,
                      SYS_io_submit, SYS_io_uring_setup, SYS_io_uring_enter, SYS_io_uring_register});
#ifdef SYS_dup2
  filter.RefuseCalls({SYS_dup2});
#endif
  filter.RefuseWhen(SYS_fcntl, 1, {F_DUPFD, F_DUPFD_CLOEXEC});
  if (!kKeepDumpableSwitch) filter.RefuseWhen(SYS_prctl, 0, {PR_SET_DUMPABLE});
  for (const long call : {SYS_write, SYS_writev, SYS_pwrite64, SYS_pwritev, SYS_pwritev2, SYS_sendto, SYS_sendfile,
                          SYS_vmsplice, SYS_bind, SYS_connect})
    filter.RefuseWhen(call, 0, {packet});
  filter.RefuseWhen(SYS_splice, 2, {packet});
  for (const long call : {SYS_sendmsg, SYS_sendmmsg}) filter.RefuseBelowOr(call, STDERR_FILENO + 1, packet);
  filter.DecideByArgument(SYS_socket, 0, {AF_INET, AF_INET6, AF_NETLINK}, kAllow, kRefuse);
  filter.AllowOnlyFilterOptions(packet);
  filter.Return(kAllow);
  return filter.Install();
}
