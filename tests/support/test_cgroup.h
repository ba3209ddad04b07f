#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "capture_helper/cgroup_root.h"

// A cgroup of the test's own below the root of the cgroup v2 hierarchy,
// named "quorvel-test-PID-N" after the test process: the processes a test
// moves into it are the only ones that socket programs attached to it see.
// Gone with the object, once the processes in it have been killed.
class TestCgroup {
 public:
  TestCgroup() {
    const std::string root = CgroupRoot();
    if (root.empty()) {
      m_unavailable = "no cgroup v2 hierarchy is mounted";
      return;
    }
    static int counter = 0;
    m_path = root + "/quorvel-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (geteuid() != 0) m_unavailable = "needs root, to make a cgroup";
    else if (mkdir(m_path.c_str(), 0755) != 0) m_unavailable = "cannot make " + m_path + ": " + std::strerror(errno);
    if (!m_unavailable.empty()) m_path.clear();
  }
  ~TestCgroup() {
    if (m_path.empty()) return;
    // Nothing may be left in it; a cgroup is removed as a folder.
    std::ifstream procs(m_path + "/cgroup.procs");
    for (pid_t pid = 0; procs >> pid;) kill(pid, SIGKILL);
    for (int attempt = 0; attempt < 100 && rmdir(m_path.c_str()) != 0 && errno == EBUSY; ++attempt) usleep(10000);
  }
  TestCgroup(const TestCgroup&) = delete;
  TestCgroup& operator=(const TestCgroup&) = delete;

  const std::string& Unavailable() const { return m_unavailable; }
  const std::string& Path() const { return m_path; }

  // Moves the calling process into the cgroup. Plain system calls only,
  // so that a child the test forked may call it.
  bool Enter() const {
    char path[4200], pid[16];
    std::snprintf(path, sizeof path, "%s/cgroup.procs", m_path.c_str());
    const int length = std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    const int procs = open(path, O_WRONLY | O_CLOEXEC);
    const bool moved = procs >= 0 && write(procs, pid, static_cast<std::size_t>(length)) == length;
    if (procs >= 0) close(procs);
    return moved;
  }

 private:
  std::string m_unavailable;
  std::string m_path;
};
