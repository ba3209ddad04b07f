#include "platform/app_files.h"

#include <unistd.h>

#include <climits>

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
std::string CrashReportFilePath() { return ReplaceLastExtension(ExecutablePath(), ".RPT"); }
std::string ServicesFilePath() { return SiblingPath(ExecutablePath(), "services"); }
std::string FiltersFilePath() { return SiblingPath(ExecutablePath(), "filters.dat"); }
std::string HelpFolderPath() { return SiblingPath(ExecutablePath(), "help"); }
std::string CaptureHelperPath() { return SiblingPath(ExecutablePath(), "quorvel-capture"); }

}  // namespace platform
