#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/product.h"

// Every file an installation holds, relative to its prefix, in order: the
// programs, the files of the desktop, and the read-only files, the user
// guide with every page of resources/help.
inline std::vector<std::string> InstalledFiles() {
  const std::string id = product::kDesktopId;
  std::vector<std::string> files = {
      "bin/quorvel",
      "bin/quorvel-capture",
      "bin/quorvel-replay",
      "lib/systemd/system/quorvel-export@.service",
      "lib/sysusers.d/quorvel-export.conf",
      "share/applications/" + id + ".desktop",
      "share/icons/hicolor/128x128/apps/" + id + ".png",
      "share/icons/hicolor/48x48/apps/" + id + ".png",
      "share/icons/hicolor/scalable/apps/" + id + ".svg",
      "share/man/man1/quorvel-replay.1.gz",
      "share/man/man1/quorvel.1.gz",
      "share/metainfo/" + id + ".metainfo.xml",
      "share/quorvel/services",
  };
  const std::filesystem::path help = std::filesystem::path(QUORVEL_SOURCE_DIR) / "resources/help";
  for (const auto& page : std::filesystem::recursive_directory_iterator(help))
    if (page.is_regular_file())
      files.push_back("share/quorvel/help/" + std::filesystem::relative(page.path(), help).string());
  std::sort(files.begin(), files.end());
  return files;
}
