#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

// What tests leave behind is named after the process that made it: a
// network namespace "qvcap-PID-N", a folder "quorvel-test-PID-N". Another
// test run may be going on at the same time, on this machine, in another
// build, so something is stale only when no test of this project with that
// process id runs any more.
namespace test_processes {

inline constexpr const char* kTestProgramPrefix = "quorvel_tests";

// The ids of every running test program of this project (by the name the
// kernel keeps for it, which every test binary's name begins with).
inline std::set<pid_t> RunningTests() {
  std::set<pid_t> running;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return running;
  while (const dirent* item = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(item->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::string name;
    std::getline(std::ifstream(std::string("/proc/") + item->d_name + "/comm"), name);
    if (name.rfind(kTestProgramPrefix, 0) == 0) running.insert(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return running;
}

// Whether a test that may have made something named after `pid` still
// runs. Names made before they carried the whole id carried it modulo
// 100000, so such a test counts too.
inline bool MakerMayRun(const std::set<pid_t>& running, long pid) {
  for (const pid_t test : running)
    if (test == pid || test % 100000 == pid) return true;
  return false;
}

// The process id in a name "PREFIX-PID-N..." (or "PREFIX-PID"), or -1.
inline long MakerOf(const std::string& name, const std::string& prefix) {
  if (name.rfind(prefix, 0) != 0) return -1;
  const char* digits = name.c_str() + prefix.size();
  char* end = nullptr;
  const long pid = std::strtol(digits, &end, 10);
  if (end == digits || pid <= 0 || (*end != '-' && *end != '\0')) return -1;
  return pid;
}

}  // namespace test_processes
