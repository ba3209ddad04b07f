#include "platform/app_files.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace platform {

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

std::string ReplaceLastExtension(const std::string& path, const std::string& extension) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? path.substr(0, dot) : path) + extension;
}

std::string SiblingPath(const std::string& path, const std::string& name) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return name;
  return path.substr(0, slash + 1) + name;
}

std::string SettingsFilePath() { return ReplaceLastExtension(ExecutablePath(), ".dat"); }
std::string CrashReportFilePath() {
  const std::string executable = ExecutablePath();
  return executable.empty() ? std::string() : ReplaceLastExtension(executable, ".RPT");
}
std::string ServicesFilePath() { return SiblingPath(ExecutablePath(), "services"); }
std::string FiltersFilePath() { return SiblingPath(ExecutablePath(), "filters.dat"); }
std::string HelpFolderPath() { return SiblingPath(ExecutablePath(), "help"); }
std::string CaptureHelperPath() { return SiblingPath(ExecutablePath(), "quorvel-capture"); }

namespace {

constexpr char kProgramFolderName[] = "quorvel";

// Relative paths in these variables are to be ignored, as the base
// directory rules say.
std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : std::string();
}

std::string HomeFolderPath() {
  std::string home = AbsoluteVariable("HOME");
  if (!home.empty()) return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      entry.pw_dir != nullptr && entry.pw_dir[0] == '/')
    home = entry.pw_dir;
  return home;
}

}  // namespace

std::string UserStateFolderPath() {
  std::string base = AbsoluteVariable("XDG_STATE_HOME");
  if (base.empty()) {
    const std::string home = HomeFolderPath();
    if (home.empty()) return {};
    base = home + "/.local/state";
  }
  return base + "/" + kProgramFolderName;
}

std::string FallbackCrashReportFilePath() {
  const std::string folder = UserStateFolderPath();
  if (folder.empty()) return {};
  std::string report = CrashReportFilePath();
  if (report.empty()) report = std::string(kProgramFolderName) + ".RPT";
  return folder + "/" + report.substr(report.rfind('/') + 1);  // npos + 1 is 0
}

}  // namespace platform
