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
#include <utility>
#include <vector>

#include "capture_helper/cgroup_root.h"
#include "support/test_processes.h"

// A cgroup of the test's own below the root of the cgroup v2 hierarchy,
// named "quorvel-test-PID-N" after the test process: the processes a test
// moves into it are the only ones that socket programs attached to it see.
// Gone with the object, once the processes in it have been killed; the
// first one a process makes also removes those of tests that crashed or
// were killed.
class TestCgroup {
 public:
  static constexpr const char* kPrefix = "quorvel-test-";

  TestCgroup() {
    const std::string root = CgroupRoot();
    if (root.empty()) {
      m_unavailable = "no cgroup v2 hierarchy is mounted";
      return;
    }
    static const bool staleRemoved = (RemoveStale(root), true);
    (void)staleRemoved;
    static int counter = 0;
    m_path = root + "/" + kPrefix + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (geteuid() != 0) m_unavailable = "needs root, to make a cgroup";
    else if (mkdir(m_path.c_str(), 0755) != 0) m_unavailable = "cannot make " + m_path + ": " + std::strerror(errno);
    if (!m_unavailable.empty()) m_path.clear();
  }
  ~TestCgroup() {
    if (!m_path.empty()) Remove(m_path);
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
  // Nothing may be left in it; a cgroup is removed as a folder.
  static void Remove(const std::string& path) {
    std::ifstream procs(path + "/cgroup.procs");
    for (pid_t pid = 0; procs >> pid;) kill(pid, SIGKILL);
    for (int attempt = 0; attempt < 100 && rmdir(path.c_str()) != 0 && errno == EBUSY; ++attempt) usleep(10000);
  }

  // The cgroups first, then the tests that run, as for folders.
  static void RemoveStale(const std::string& root) {
    std::vector<std::pair<std::string, long>> named;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
      const long maker = test_processes::MakerOf(entry.path().filename().string(), kPrefix);
      if (maker > 0) named.emplace_back(entry.path().string(), maker);
    }
    const auto running = test_processes::RunningTests();
    for (const auto& [path, maker] : named)
      if (!test_processes::MakerMayRun(running, maker)) Remove(path);
  }

  std::string m_unavailable;
  std::string m_path;
};
