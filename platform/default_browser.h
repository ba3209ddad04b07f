#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The web browser the desktop has chosen, found the way the freedesktop
// standards lay down, for opening a web address when the desktop's own
// opener cannot: the default application for text/html in the mimeapps.list
// files, and the command line of its desktop entry.
namespace platform {

// The folders those standards name. Empty variables take their
// documented defaults.
struct XdgFolders {
  std::string configHome;               // $XDG_CONFIG_HOME, else ~/.config
  std::vector<std::string> configDirs;  // $XDG_CONFIG_DIRS, else /etc/xdg
  std::string dataHome;                 // $XDG_DATA_HOME, else ~/.local/share
  std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS, else /usr/local/share:/usr/share
  std::vector<std::string> desktops;    // $XDG_CURRENT_DESKTOP, in lower case
};

XdgFolders XdgFoldersFromEnvironment();

// The mimeapps.list files in the order they are asked: in each folder the
// lists of the running desktops before the plain one; the user's configuration,
// the system's configuration, the user's data, the system's data.
std::vector<std::string> MimeAppsListPaths(const XdgFolders& folders);

// The desktop entry ids listed for `mimeType` in the [Default Applications]
// group of one mimeapps.list, in their order.
std::vector<std::string> DefaultApplications(std::string_view mimeAppsList, std::string_view mimeType);

// The Exec line of a desktop entry's [Desktop Entry] group, its escapes
// (\s \n \t \r \\) resolved. None when it has none, or is Hidden.
std::optional<std::string> DesktopEntryExec(std::string_view desktopEntry);

// The Exec line up to its first field code for a file or address (%u, %U,
// %f, %F): the code, or the code in double quotes, and everything after it
// go; what comes before stays as it is, a trailing space included. A line
// without one stays whole. "%%" is a percent sign, not a code.
std::string CutAtFieldCode(std::string_view exec);

// A command line split into the program and its arguments by the quoting
// rules of Exec lines: words apart at spaces and tabs; inside double quotes
// spaces belong to the word and a backslash keeps the next of " ` $ \ as
// it is. "%%" becomes "%"; a word that is only a field code (an icon, a
// name, a deprecated code) goes, as there is nothing to put in its place.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The Exec line of the desktop's default application for text/html; empty
// when none is set or its entry cannot be read.
std::string DefaultBrowserExec(const XdgFolders& folders);

}  // namespace platform
