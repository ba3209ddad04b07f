#include "capture_helper/filter_compiler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture_helper/helper_clock.h"

namespace {

// The child's answer: this header, then the program's instructions or the
// library's text.
struct AnswerHeader {
  enum : std::uint32_t { kProgram = 1, kError = 2 };
  std::uint32_t kind;
  std::uint32_t count;  // instructions, or bytes of text
};

// Below the capture, which it must never hold up on a busy processor.
constexpr int kCompilerNice = 10;
constexpr std::size_t kAnswerReadBytes = 65536;

void WriteAll(int fd, const void* bytes, std::size_t size) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (size != 0) {
    const ssize_t written = write(fd, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) _exit(1);
    next += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Nothing of the capture stays open in the child: not the packet socket,
// not the command channel, not the output (whose reader waits for its end).
// The numbers up to `reserved` lead to /dev/null instead, so that the
// sockets a name lookup opens never get them: the standard descriptors',
// and the packet socket's, which the system-call filter tells it by.
void KeepOnly(int answerFd, int reserved) {
  if (answerFd > 3) close_range(3, static_cast<unsigned>(answerFd) - 1, 0);
  close_range(static_cast<unsigned>(answerFd) + 1, ~0U, 0);
  for (int fd = 0; fd <= reserved; ++fd) {
    if (fd == answerFd) continue;
    close(fd);
    open("/dev/null", O_RDWR);  // takes the lowest free number: fd
  }
}

[[noreturn]] void CompileAndAnswer(pcap_t* handle, const char* expression, int answerFd, pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  KeepOnly(answerFd, std::max(STDERR_FILENO, pcap_fileno(handle)));
  setpriority(PRIO_PROCESS, 0, kCompilerNice);
  bpf_program program{};
  if (pcap_compile(handle, &program, expression, 0, PCAP_NETMASK_UNKNOWN) == -1) {
    const char* text = pcap_geterr(handle);
    const AnswerHeader header = {AnswerHeader::kError, static_cast<std::uint32_t>(std::strlen(text))};
    WriteAll(answerFd, &header, sizeof header);
    WriteAll(answerFd, text, header.count);
  } else {
    const AnswerHeader header = {AnswerHeader::kProgram, program.bf_len};
    WriteAll(answerFd, &header, sizeof header);
    WriteAll(answerFd, program.bf_insns, sizeof(bpf_insn) * program.bf_len);
  }
  _exit(0);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

bool FilterCompiler::Start(const std::string& expression, std::string& error) {
  Cancel();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    error = std::string("cannot start the filter compiler: ") + std::strerror(errno);
    return false;
  }
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) CompileAndAnswer(m_handle, expression.c_str(), ends[1], parent);
  const int forkError = errno;
  close(ends[1]);
  if (child < 0) {
    close(ends[0]);
    error = std::string("cannot start the filter compiler: ") + std::strerror(forkError);
    return false;
  }
  m_pid = child;
  m_answerFd = ends[0];
  fcntl(m_answerFd, F_SETFL, fcntl(m_answerFd, F_GETFL) | O_NONBLOCK);
  // Readable once the child has ended; without it, the end of its answer
  // says as much a moment earlier.
  m_childFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  m_deadlineMs = NowMs() + m_limitMs;
  m_answer.clear();
  m_answerTooLong = false;
  return true;
}

bool FilterCompiler::Advance(Result& result) {
  if (!Busy()) return false;
  ReadAnswer();
  if (m_answerTooLong) {
    End(result, "filter program too large");
    return true;
  }
  int status = 0;
  if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
    m_pid = -1;
    ReadAnswer();  // all of it is in the pipe now
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !m_answerTooLong)
      ParseAnswer(result);
    else
      result = {false, {}, "the filter compiler ended without an answer"};
    CloseChannels();
    return true;
  }
  if (NowMs() >= m_deadlineMs) {
    End(result, "filter took longer than " + std::to_string(m_limitMs) + " ms to compile");
    return true;
  }
  return false;
}

void FilterCompiler::ReadAnswer() {
  const std::size_t most = sizeof(AnswerHeader) + sizeof(bpf_insn) * kMaxInstructions;
  unsigned char bytes[kAnswerReadBytes];
  while (m_answerFd >= 0 && !m_answerTooLong) {
    const ssize_t count = read(m_answerFd, bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;  // nothing more for now, or its end
    m_answer.insert(m_answer.end(), bytes, bytes + count);
    m_answerTooLong = m_answer.size() > most;
  }
}

void FilterCompiler::ParseAnswer(Result& result) const {
  result = {false, {}, "the filter compiler gave a malformed answer"};
  AnswerHeader header{};
  if (m_answer.size() < sizeof header) return;
  std::memcpy(&header, m_answer.data(), sizeof header);
  const unsigned char* body = m_answer.data() + sizeof header;
  const std::size_t size = m_answer.size() - sizeof header;
  if (header.kind == AnswerHeader::kProgram && size == sizeof(bpf_insn) * header.count) {
    result.compiled = true;
    result.error.clear();
    result.program.resize(header.count);
    if (size != 0) std::memcpy(result.program.data(), body, size);
  } else if (header.kind == AnswerHeader::kError && size == header.count) {
    result.error.assign(reinterpret_cast<const char*>(body), size);
  }
}

void FilterCompiler::End(Result& result, std::string error) {
  Cancel();
  result = {false, {}, std::move(error)};
}

// A killed child ends at once: waiting for it to be reaped takes no time.
void FilterCompiler::Cancel() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
  }
  CloseChannels();
  m_answer.clear();
}

void FilterCompiler::CloseChannels() {
  CloseFd(m_answerFd);
  CloseFd(m_childFd);
}
