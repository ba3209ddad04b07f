#pragma once

#include <string>

// Where the program keeps its files. Every such path is computed here, so
// that an installed program can later move its writable files elsewhere
// without touching the subsystems.
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

std::string SettingsFilePath();     // <executable>.dat
std::string CrashReportFilePath();  // <executable>.RPT; empty when the executable is unknown
std::string ServicesFilePath();     // services beside the executable
std::string FiltersFilePath();      // filters.dat beside the executable
std::string HelpFolderPath();       // help/ beside the executable
std::string CaptureHelperPath();    // quorvel-capture beside the executable

// The user's folder for what the program keeps between runs that is
// neither settings nor data: $XDG_STATE_HOME/quorvel, by default
// ~/.local/state/quorvel. Empty when the user has no home folder.
std::string UserStateFolderPath();
// Where crash reports go when the executable's folder cannot take them:
// the report's file name in the user's state folder.
std::string FallbackCrashReportFilePath();

}  // namespace platform
