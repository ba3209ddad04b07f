#include "platform/app_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/user_account.h"

namespace platform {

namespace {

constexpr char kProgramName[] = "quorvel";

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }  // npos + 1 is 0

// Relative paths in these variables are to be ignored, as the base
// directory rules say.
std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : std::string();
}

std::string HomeFolderPath() {
  std::string home = AbsoluteVariable("HOME");
  if (home.empty()) home = CurrentUserAccount().home;
  return home.empty() || home[0] != '/' ? std::string() : home;
}

// $<variable>/quorvel, else <home>/<homeRelative>/quorvel.
std::string UserFolder(const char* variable, const char* homeRelative) {
  std::string base = AbsoluteVariable(variable);
  if (base.empty()) {
    const std::string home = HomeFolderPath();
    if (home.empty()) return {};
    base = home + "/" + homeRelative;
  }
  return base + "/" + kProgramName;
}

bool IsInstalled(const std::string& executable) { return !InstalledDataFolder(executable).empty(); }

// A file the installed program writes: `name` in the user's `folder`, made
// when missing.
std::string InUserFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return {};
  MakeUserFolders(folder.c_str());
  return folder + "/" + name;
}

// A file the program only reads.
std::string ReadOnlyFile(const char* name) {
  const std::string executable = ExecutablePath();
  const std::string data = InstalledDataFolder(executable);
  return data.empty() ? SiblingPath(executable, name) : data + "/" + name;
}

std::string CrashReportName(const std::string& executable) {
  return FileName(ReplaceLastExtension(executable.empty() ? kProgramName : executable, ".RPT"));
}

}  // namespace

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

std::string InstalledDataFolder(const std::string& executable) {
  const auto slash = executable.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  const auto parent = executable.rfind('/', slash - 1);
  if (parent == std::string::npos) return {};
  const std::string data = executable.substr(0, parent) + "/share/" + kProgramName;
  struct stat status {};
  return stat(data.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? data : std::string();
}

bool IsInstalled() { return IsInstalled(ExecutablePath()); }

std::string SettingsFilePath() {
  const std::string executable = ExecutablePath();
  const std::string besideExecutable = ReplaceLastExtension(executable, ".dat");
  if (!IsInstalled(executable)) return besideExecutable;
  return InUserFolder(UserConfigFolderPath(), FileName(besideExecutable));
}

std::string FiltersFilePath() {
  const std::string executable = ExecutablePath();
  if (!IsInstalled(executable)) return SiblingPath(executable, "filters.dat");
  return InUserFolder(UserConfigFolderPath(), "filters.dat");
}

std::string CrashReportFilePath() {
  const std::string executable = ExecutablePath();
  if (executable.empty()) return {};
  if (IsInstalled(executable)) return FallbackCrashReportFilePath();
  return ReplaceLastExtension(executable, ".RPT");
}

std::string ServicesFilePath() { return ReadOnlyFile("services"); }
std::string HelpFolderPath() { return ReadOnlyFile("help"); }
std::string CaptureHelperPath() { return SiblingPath(ExecutablePath(), "quorvel-capture"); }

std::string UserConfigFolderPath() { return UserFolder("XDG_CONFIG_HOME", ".config"); }
std::string UserStateFolderPath() { return UserFolder("XDG_STATE_HOME", ".local/state"); }

std::string FallbackCrashReportFilePath() {
  const std::string folder = UserStateFolderPath();
  if (folder.empty()) return {};
  return folder + "/" + CrashReportName(ExecutablePath());
}

std::string RuntimeFolderPath() { return AbsoluteVariable("XDG_RUNTIME_DIR"); }

std::string PrivateTemporaryFolderPath() {
  std::string temporary = AbsoluteVariable("TMPDIR");
  if (temporary.empty()) temporary = "/tmp";
  return temporary + "/" + kProgramName + "-" + std::to_string(geteuid());
}

void MakeUserFolders(const char* path) {
  char folder[PATH_MAX];
  const std::size_t length = std::strlen(path);
  if (length == 0 || length >= sizeof folder) return;
  std::memcpy(folder, path, length + 1);
  for (char* slash = std::strchr(folder + 1, '/'); slash != nullptr; slash = std::strchr(slash + 1, '/')) {
    *slash = '\0';
    mkdir(folder, 0700);
    *slash = '/';
  }
  mkdir(folder, 0700);
}

}  // namespace platform
