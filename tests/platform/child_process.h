#pragma once

// Runs a program in a child process with an environment of the test's
// choosing, and reads and writes the files it leaves.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace crash_test {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Outcome {
  int status = -1;
  std::string errorText;
};

inline constexpr uid_t kNoUserChange = static_cast<uid_t>(-1);
inline constexpr uid_t kNobody = 65534;
inline constexpr auto kChildPatience = std::chrono::seconds(60);

// Runs `program` with exactly `environment`, as `user` unless kNoUserChange,
// and collects its exit status and standard error.
inline Outcome RunChild(const std::string& program, const std::vector<std::string>& arguments,
                        const std::map<std::string, std::string>& environment, const std::filesystem::path& errorFile, uid_t user) {
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  const std::size_t argumentCount = strings.size();
  for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
  std::vector<char*> argv;
  std::vector<char*> envp;
  for (std::size_t i = 0; i < strings.size(); ++i) (i < argumentCount ? argv : envp).push_back(strings[i].data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int error = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(error, STDERR_FILENO);
    if (user != kNoUserChange && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  Outcome outcome;
  if (child < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return outcome;
  }
  const auto deadline = std::chrono::steady_clock::now() + kChildPatience;
  while (waitpid(child, &outcome.status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << program << " did not end";
      kill(child, SIGKILL);
      waitpid(child, &outcome.status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  outcome.errorText = ReadFile(errorFile);
  return outcome;
}

}  // namespace crash_test
