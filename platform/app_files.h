#pragma once

#include <string>

// Where the program keeps its files. Every such path is computed here.
//
// Run from the build tree, every file lives beside the executable. An
// installed program (<prefix>/bin/quorvel beside <prefix>/share/quorvel/)
// cannot write beside itself: it reads its read-only files from the shared
// data folder and keeps the files it writes in the user's own folders
// ($XDG_CONFIG_HOME/quorvel, $XDG_STATE_HOME/quorvel).
namespace platform {

// Full path of the running executable (from /proc/self/exe); empty when the
// system cannot tell.
std::string ExecutablePath();

// The path with its last extension replaced by `extension` (which carries
// its own dot), or with `extension` appended when the file name has none.
// A dot inside a directory name is not an extension.
std::string ReplaceLastExtension(const std::string& path, const std::string& extension);

// A file in the same folder as `path`: everything after the last '/' is
// replaced by `name`; a path without '/' becomes `name` itself.
std::string SiblingPath(const std::string& path, const std::string& name);

// The read-only files' folder of a program installed at `executable`:
// share/quorvel in the folder above the executable's own, when that is a
// folder. Empty otherwise (a program run from the build tree).
std::string InstalledDataFolder(const std::string& executable);
// Whether the running program is installed in that sense.
bool IsInstalled();

// Writable files. Installed, the folder that holds them is made (0700) when
// missing, so that the file can be written; the path is empty when the user
// has no home folder.
std::string SettingsFilePath();     // <executable>.dat; installed: in the user's configuration folder
std::string FiltersFilePath();      // filters.dat beside the executable; installed: likewise
std::string CrashReportFilePath();  // <executable>.RPT; installed: in the user's state folder (made by
                                    // the crash handler). Empty when the executable is unknown.
// Read-only files: beside the executable, or in the installed data folder.
std::string ServicesFilePath();     // services
std::string HelpFolderPath();       // help/
// The capture helper is always beside the executable (<prefix>/bin when installed).
std::string CaptureHelperPath();

// The user's folder for settings: $XDG_CONFIG_HOME/quorvel, by default
// ~/.config/quorvel. Empty when the user has no home folder.
std::string UserConfigFolderPath();
// The user's folder for what the program keeps between runs that is
// neither settings nor data: $XDG_STATE_HOME/quorvel, by default
// ~/.local/state/quorvel. Empty when the user has no home folder.
std::string UserStateFolderPath();
// Where crash reports go when the executable's folder cannot take them:
// the report's file name in the user's state folder.
std::string FallbackCrashReportFilePath();

// The per-user runtime folder ($XDG_RUNTIME_DIR), which the session makes
// for this user alone; empty when it is not set.
std::string RuntimeFolderPath();
// quorvel-<uid> in $TMPDIR or /tmp: where a folder of the user's own goes
// when there is no runtime folder. Others may share the place it is in.
std::string PrivateTemporaryFolderPath();

// Makes `path` and every missing folder above it, each with mode 0700 (the
// base directory rules' mode for folders a program makes for its user).
// Folders that exist are left as they are. Async-signal-safe: no
// allocation, so that the crash handler may call it.
void MakeUserFolders(const char* path);

}  // namespace platform
