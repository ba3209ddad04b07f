#pragma once

// Runs a program to its end with exactly the environment, user and groups
// a test chooses, and keeps what it wrote to its standard output and error.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/file_text.h"

struct ProgramRun {
  int exitCode = -1;  // -1 when it did not exit by itself
  std::string out;
  std::string err;
};

struct RunAs {
  uid_t user;
  gid_t group;
  std::vector<gid_t> supplementaryGroups;
};

using Environment = std::map<std::string, std::string>;
inline constexpr std::chrono::seconds kProgramPatience{60};  // then it is killed

// `environment` is the program's whole environment; `as`, when given, the
// user and groups it runs as (root only).
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const Environment& environment = {}, const std::optional<RunAs>& as = {}) {
  std::string folderPattern = std::filesystem::temp_directory_path() / "quorvel-run-XXXXXX";
  const std::filesystem::path folder = mkdtemp(folderPattern.data());
  const std::filesystem::path outPath = folder / "out", errPath = folder / "err";

  std::vector<std::string> strings{program};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  const std::size_t argumentCount = strings.size();
  for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::size_t i = 0; i < strings.size(); ++i) (i < argumentCount ? argv : envp).push_back(strings[i].data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (as && (setgroups(as->supplementaryGroups.size(), as->supplementaryGroups.data()) != 0 ||
               setgid(as->group) != 0 || setuid(as->user) != 0))
      _exit(125);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(errno == EACCES ? 126 : 127);
  }
  ProgramRun run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kProgramPatience;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.out = ReadWholeText(outPath);
  run.err = ReadWholeText(errPath);
  std::filesystem::remove_all(folder);
  return run;
}
