#pragma once

#include <filesystem>

// A folder of the benchmarks' own under the system's temporary folder, made
// on first use; capture files written there are kept and reused by later
// runs.
inline std::filesystem::path ScratchFolder(const char* name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(folder);
  return folder;
}
