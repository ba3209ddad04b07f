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
std::string CrashReportFilePath();  // <executable>.RPT
std::string ServicesFilePath();     // services beside the executable
std::string FiltersFilePath();      // filters.dat beside the executable
std::string HelpFolderPath();       // help/ beside the executable
std::string CaptureHelperPath();    // quorvel-capture beside the executable

}  // namespace platform
