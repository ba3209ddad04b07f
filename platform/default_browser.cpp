#include "platform/default_browser.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/whole_file.h"

namespace platform {

namespace {

constexpr std::string_view kWebPageType = "text/html";
constexpr std::string_view kAddressCodes = "uUfF";
constexpr std::string_view kOtherCodes = "dDnNickvm";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Calls `visit(key, value)` for each key of `group` in a file of the
// freedesktop key-file format (the format of desktop entries and of
// mimeapps.list): "[group]" lines, "key=value" lines, "#" comments.
template <typename Visit>
void ForEachKey(std::string_view text, std::string_view group, Visit visit) {
  bool inGroup = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line == "[" + std::string(group) + "]";
      continue;
    }
    const auto equals = line.find('=');
    if (inGroup && equals != std::string_view::npos)
      visit(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
  }
}

// The escapes of a value of type string.
std::string Unescape(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if (value[i] != '\\' || next == '\0' || std::string_view("sntr\\").find(next) == std::string_view::npos) {
      text += value[i];
      continue;
    }
    text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : '\\';
    ++i;
  }
  return text;
}

std::vector<std::string> PathList(const char* variable, std::string_view fallback) {
  const char* value = std::getenv(variable);
  std::string_view list = value != nullptr && *value != '\0' ? std::string_view(value) : fallback;
  std::vector<std::string> paths;
  while (!list.empty()) {
    const auto colon = list.find(':');
    const std::string_view path = list.substr(0, colon);
    // Relative paths are not valid there and are ignored.
    if (!path.empty() && path.front() == '/') paths.emplace_back(path);
    list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
  }
  return paths;
}

std::string HomeFolder(const char* variable, const char* underHome) {
  const std::vector<std::string> set = PathList(variable, "");
  if (!set.empty()) return set.front();
  const char* home = std::getenv("HOME");
  return home != nullptr && *home == '/' ? std::string(home) + underHome : std::string();
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A desktop entry id names a file in an applications folder, where a "-"
// of the id may also stand for a subfolder ("kde-konqueror.desktop" may be
// kde/konqueror.desktop).
std::optional<std::string> ReadDesktopEntry(const std::string& folder, std::string_view id) {
  std::string text;
  if (ReadWholeFile(folder + "/" + std::string(id), text) == ReadOutcome::kRead) return text;
  for (auto dash = id.find('-'); dash != std::string_view::npos; dash = id.find('-', dash + 1)) {
    const std::string subfolder = folder + "/" + std::string(id.substr(0, dash));
    struct stat status {};
    if (stat(subfolder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
    if (auto found = ReadDesktopEntry(subfolder, id.substr(dash + 1))) return found;
  }
  return std::nullopt;
}

std::optional<std::string> InstalledEntryExec(const XdgFolders& folders, const std::string& id) {
  if (id.find('/') != std::string::npos || id.front() == '.') return std::nullopt;
  std::vector<std::string> dataFolders{folders.dataHome};
  dataFolders.insert(dataFolders.end(), folders.dataDirs.begin(), folders.dataDirs.end());
  for (const std::string& data : dataFolders) {
    if (data.empty()) continue;
    if (const auto entry = ReadDesktopEntry(data + "/applications", id)) return DesktopEntryExec(*entry);
  }
  return std::nullopt;
}

bool IsLoneFieldCode(std::string_view word) {
  return word.size() == 2 && word[0] == '%' &&
         (kAddressCodes.find(word[1]) != std::string_view::npos || kOtherCodes.find(word[1]) != std::string_view::npos);
}

std::string WithPercentSigns(std::string_view word) {
  std::string text;
  for (std::size_t i = 0; i < word.size(); ++i) {
    text += word[i];
    if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == '%') ++i;
  }
  return text;
}

}  // namespace

XdgFolders XdgFoldersFromEnvironment() {
  XdgFolders folders;
  folders.configHome = HomeFolder("XDG_CONFIG_HOME", "/.config");
  folders.configDirs = PathList("XDG_CONFIG_DIRS", "/etc/xdg");
  folders.dataHome = HomeFolder("XDG_DATA_HOME", "/.local/share");
  folders.dataDirs = PathList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  std::string_view list = desktops != nullptr ? desktops : "";
  while (!list.empty()) {
    const auto colon = list.find(':');
    if (colon != 0) folders.desktops.push_back(Lowercase(list.substr(0, colon)));
    list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
  }
  return folders;
}

std::vector<std::string> MimeAppsListPaths(const XdgFolders& folders) {
  std::vector<std::string> listFolders;
  if (!folders.configHome.empty()) listFolders.push_back(folders.configHome);
  listFolders.insert(listFolders.end(), folders.configDirs.begin(), folders.configDirs.end());
  if (!folders.dataHome.empty()) listFolders.push_back(folders.dataHome + "/applications");
  for (const std::string& data : folders.dataDirs) listFolders.push_back(data + "/applications");

  std::vector<std::string> paths;
  for (const std::string& folder : listFolders) {
    for (const std::string& desktop : folders.desktops) paths.push_back(folder + "/" + desktop + "-mimeapps.list");
    paths.push_back(folder + "/mimeapps.list");
  }
  return paths;
}

std::vector<std::string> DefaultApplications(std::string_view mimeAppsList, std::string_view mimeType) {
  std::vector<std::string> ids;
  ForEachKey(mimeAppsList, "Default Applications", [&](std::string_view key, std::string_view value) {
    if (!ids.empty() || !SameIgnoringCase(key, mimeType)) return;  // the first such key counts
    while (!value.empty()) {
      const auto semicolon = value.find(';');
      const std::string_view id = Trim(value.substr(0, semicolon));
      if (!id.empty()) ids.emplace_back(id);
      value = semicolon == std::string_view::npos ? std::string_view{} : value.substr(semicolon + 1);
    }
  });
  return ids;
}

std::optional<std::string> DesktopEntryExec(std::string_view desktopEntry) {
  std::optional<std::string> exec;
  bool hidden = false;
  ForEachKey(desktopEntry, "Desktop Entry", [&](std::string_view key, std::string_view value) {
    if (key == "Exec" && !exec) exec = Unescape(value);
    if (key == "Hidden") hidden = value == "true";
  });
  if (hidden || !exec || exec->empty()) return std::nullopt;
  return exec;
}

std::string CutAtFieldCode(std::string_view exec) {
  for (std::size_t i = 0; i + 1 < exec.size(); ++i) {
    if (exec[i] != '%') continue;
    if (exec[i + 1] == '%') {
      ++i;
      continue;
    }
    if (kAddressCodes.find(exec[i + 1]) == std::string_view::npos) continue;
    const bool quoted = i > 0 && exec[i - 1] == '"' && i + 2 < exec.size() && exec[i + 2] == '"';
    return std::string(exec.substr(0, quoted ? i - 1 : i));
  }
  return std::string(exec);
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size() && std::string_view("\"`$\\").find(line[i + 1]) != std::string_view::npos)
        word += line[++i];
      else if (c == '"')
        quoted = false;
      else
        word += c;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      inWord = true;
      if (c == '"')
        quoted = true;
      else
        word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));

  std::vector<std::string> command;
  for (const std::string& w : words) {
    if (!IsLoneFieldCode(w)) command.push_back(WithPercentSigns(w));
  }
  return command;
}

std::string DefaultBrowserExec(const XdgFolders& folders) {
  for (const std::string& path : MimeAppsListPaths(folders)) {
    std::string list;
    if (ReadWholeFile(path, list) != ReadOutcome::kRead) continue;
    // An id that is not installed here gives way to the next one.
    for (const std::string& id : DefaultApplications(list, kWebPageType)) {
      if (const auto exec = InstalledEntryExec(folders, id)) return *exec;
    }
  }
  return {};
}

}  // namespace platform
