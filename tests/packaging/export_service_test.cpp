// The unit of the flow export service, as systemd reads it, and what it
// must leave alone: the capture helper's capabilities come from its file,
// and any setting that implies NoNewPrivileges voids them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "support/program_run.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

const fs::path kUnit = fs::path(QUORVEL_SOURCE_DIR) / "packaging/systemd/quorvel-export@.service";

TEST(ExportServiceTest, SystemdFindsNothingToSayAboutTheUnit) {
  if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "systemd-analyze is missing (package systemd)";
  // An instance of the template, running the program just built.
  TestFolder folder;
  std::string unit = ReadWholeText(kUnit);
  unit = std::regex_replace(unit, std::regex("/usr/bin/quorvel-replay"), QUORVEL_REPLAY);
  const fs::path instance = folder.Path() / "quorvel-export@eth0.service";
  std::ofstream(instance) << unit;
  const ProgramRun verify = RunProgram("/usr/bin/systemd-analyze", {"verify", "--man=no", instance.string()},
                                       {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_EQ(verify.err, "");
}

TEST(ExportServiceTest, NoSettingTakesTheHelpersCapabilitiesAway) {
  // Those that set or imply NoNewPrivileges (systemd.exec(5)), and those
  // that would keep the helper's capabilities out of reach.
  const std::regex voiding(
      "^(NoNewPrivileges=yes|NoNewPrivileges=true|DynamicUser=yes|DynamicUser=true|PrivateDevices=|ProtectKernel"
      "[A-Za-z]*=|ProtectClock=|ProtectHostname=|RestrictAddressFamilies=|RestrictNamespaces=|RestrictRealtime=|"
      "RestrictSUIDSGID=|LockPersonality=|MemoryDenyWriteExecute=|SystemCallFilter=|SystemCallArchitectures=|"
      "SystemCallLog=|PrivateUsers=|SecureBits=)");
  std::ifstream unit(kUnit);
  bool bounding = false;
  for (std::string line; std::getline(unit, line);) {
    EXPECT_FALSE(std::regex_search(line, voiding)) << line;
    if (line.starts_with("CapabilityBoundingSet=")) {
      bounding = true;
      for (const char* capability : {"CAP_NET_RAW", "CAP_NET_ADMIN", "CAP_BPF"})
        EXPECT_NE(line.find(capability), std::string::npos) << capability << " is the helper's";
    }
    if (line.starts_with("User=")) {
      EXPECT_NE(line, "User=root");
    }
  }
  EXPECT_TRUE(bounding);
}

}  // namespace
