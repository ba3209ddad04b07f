#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

// A child process a test forked: killed and reaped when the test is done
// with it, also when the test fails half way and never got to stop it.
class ChildProcess {
 public:
  // Forks; the child runs `body` and exits with what it returns, never
  // coming back into the test.
  template <typename Body>
  static ChildProcess Fork(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return ChildProcess(pid);
  }

  ChildProcess(ChildProcess&& other) noexcept : m_pid(std::exchange(other.m_pid, -1)) {}
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess() { Kill(); }

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }

  // Waits for the child to end by itself; its wait status, or -1.
  int Wait() {
    int status = -1;
    if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid) m_pid = -1;
    return status;
  }

  void Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  explicit ChildProcess(pid_t pid) : m_pid(pid) {}
  pid_t m_pid;
};
