// The Debian package as cpack makes it from the build: what it holds, its
// control fields, and its maintainer scripts run against a root of the
// test's own (DPKG_ROOT), as dpkg runs them.
#include <gtest/gtest.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "packaging/installed_files.h"
#include "packaging/packaging_fixture.h"
#include "support/other_user.h"
#include "support/program_run.h"
#include "ui/product.h"

namespace {

using namespace packaging_test;

constexpr char kHelper[] = "usr/bin/quorvel-capture";
// Exactly these, as the capability library writes them: capturing, and
// attaching the programs that tell which program owns a connection.
constexpr char kHelperCapabilities[] = "cap_net_admin,cap_net_raw,cap_bpf=p";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The package names of a relationship field, without their versions.
std::set<std::string> PackageNames(const std::string& field) {
  std::set<std::string> names;
  std::istringstream stream(field);
  for (std::string item; std::getline(stream, item, ',');) {
    item.erase(0, item.find_first_not_of(' '));
    names.insert(item.substr(0, item.find(' ')));
  }
  return names;
}

// The package in `folder`, or empty.
fs::path PackageIn(const fs::path& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.path().extension() == ".deb") return entry.path();
  return {};
}

// The package that ctest made once for all these tests (the fixture
// quorvel_package), cpack being slow; empty when there is none, or when
// the programs were built after it (a run by hand after an interrupted one).
fs::path PackageOfThisTestRun() {
  const fs::path package = PackageIn(QUORVEL_TEST_PACKAGE_DIR);
  std::error_code error;
  if (package.empty()) return {};
  for (const char* program : {"quorvel", "quorvel-capture", "quorvel-replay"}) {
    const auto built = fs::last_write_time(fs::path(QUORVEL_BUILD_DIR) / "bin" / program, error);
    if (error || built > fs::last_write_time(package, error) || error) return {};
  }
  return package;
}

class DebianPackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_output = MakeTempFolder("quorvel-deb");
    s_package = PackageOfThisTestRun();
    if (s_package.empty()) {
      const ProgramRun pack = RunProgram(
          QUORVEL_CPACK, {"-G", "DEB", "--config", QUORVEL_BUILD_DIR "/CPackConfig.cmake", "-B", s_output.string()},
          {{"PATH", kSystemPath}});
      ASSERT_EQ(pack.exitCode, 0) << pack.out << pack.err;
      s_package = PackageIn(s_output);
      ASSERT_FALSE(s_package.empty()) << pack.out;
    }
    s_control = s_output / "control";
    const ProgramRun control = Deb({"--control", s_package.string(), s_control.string()});
    ASSERT_EQ(control.exitCode, 0) << control.err;
  }
  static void TearDownTestSuite() { fs::remove_all(s_output); }

  static ProgramRun Deb(const std::vector<std::string>& arguments) {
    return RunProgram("/usr/bin/dpkg-deb", arguments, {{"PATH", kSystemPath}});
  }

  static std::string Field(const std::string& name) {
    std::string value = Deb({"--field", s_package.string(), name}).out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  static inline fs::path s_output, s_package, s_control;
};

TEST_F(DebianPackageTest, HoldsTheInstallationUnderUsr) {
  const ProgramRun contents = Deb({"--contents", s_package.string()});
  ASSERT_EQ(contents.exitCode, 0) << contents.err;
  std::vector<std::string> files;
  for (const std::string& line : Lines(contents.out)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    EXPECT_EQ(owner, "root/root") << line;
    if (mode.front() == 'd') continue;
    ASSERT_EQ(path.rfind("./usr/", 0), 0u) << line;
    files.push_back(path.substr(6));
    const bool program = path.find("/bin/") != std::string::npos;
    EXPECT_EQ(mode, program ? "-rwxr-xr-x" : "-rw-r--r--") << line << " (the postinst changes the helper)";
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, InstalledFiles());
}

TEST_F(DebianPackageTest, ControlFieldsNameWhatItNeeds) {
  EXPECT_EQ(Field("Package"), "quorvel");
  EXPECT_EQ(Field("Version"), std::string(product::kVersion) + "-1");
  std::string architecture = RunProgram("/usr/bin/dpkg", {"--print-architecture"}).out;
  architecture.pop_back();
  EXPECT_EQ(Field("Architecture"), architecture);
  EXPECT_EQ(Field("Section"), "net");
  EXPECT_NE(Field("Maintainer"), "");
  EXPECT_EQ(Field("Description").rfind("desktop monitor of local-network traffic\n ", 0), 0u) << Field("Description");
  // Found in the programs (dpkg-shlibdeps), and what they load or the
  // maintainer scripts run.
  const std::set<std::string> depends = PackageNames(Field("Depends"));
  for (const char* name : {"libc6", "libstdc++6", "libpcap0.8", "libcap2", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                           "qt6-qpa-plugins", "libqt6svg6", "qt6-translations-l10n", "adduser", "libcap2-bin"})
    EXPECT_EQ(depends.count(name), 1u) << name << " in " << Field("Depends");
  EXPECT_EQ(Field("Recommends"), "fonts-wqy-microhei");

  for (const char* script : {"postinst", "postrm"}) {
    const fs::path path = s_control / script;
    ASSERT_TRUE(fs::exists(path)) << script;
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                                   fs::perms::others_read | fs::perms::others_exec);
    EXPECT_EQ(ReadWholeText(path).rfind("#!/bin/sh\n", 0), 0u) << script;
  }
}

// The package unpacked into a root of the test's own, with the few files
// of a system that the maintainer scripts touch.
class MaintainerScriptTest : public DebianPackageTest {
 protected:
  MaintainerScriptTest() : m_root(MakeTempFolder("quorvel-root")) {}
  ~MaintainerScriptTest() override { fs::remove_all(m_root); }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the scripts change owners and grant a capability";
    Unpack(m_root);
  }

  static void Unpack(const fs::path& root) {
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const ProgramRun unpack = Deb({"--extract", s_package.string(), root.string()});
    ASSERT_EQ(unpack.exitCode, 0) << unpack.err;
    fs::create_directories(root / "etc");
    fs::create_directories(root / "var/lib/dpkg");
    std::ofstream(root / "etc/group") << "root:x:0:\nusers:x:100:\n";
    std::ofstream(root / "etc/gshadow") << "root:*::\nusers:*::\n";
    std::ofstream(root / "var/lib/dpkg/statoverride");
  }

  ProgramRun RunScript(const char* script, const char* action) const {
    return RunProgram((s_control / script).string(), {action},
                      {{"PATH", kSystemPath}, {"DPKG_ROOT", m_root.string()}});
  }

  // The group's number in the root's own group file; -1 when it has none.
  long GroupId(const std::string& name) const {
    long found = -1;
    for (const std::string& line : Lines(ReadWholeText(m_root / "etc/group"))) {
      std::istringstream fields(line);
      std::string group, password, number;
      std::getline(fields, group, ':');
      std::getline(fields, password, ':');
      std::getline(fields, number, ':');
      if (group != name) continue;
      EXPECT_EQ(found, -1) << "one entry only";
      found = std::stol(number);
    }
    return found;
  }

  std::string Capabilities(const fs::path& file) const {
    cap_t caps = cap_get_file(file.c_str());
    if (caps == nullptr) return "none";
    char* text = cap_to_text(caps, nullptr);
    std::string result = text;
    cap_free(text);
    cap_free(caps);
    return result;
  }

  fs::path m_root;
};

TEST_F(MaintainerScriptTest, PostinstGivesTheHelperToTheGroupQuorvel) {
  const ProgramRun configure = RunScript("postinst", "configure");
  ASSERT_EQ(configure.exitCode, 0) << configure.err;
  const long group = GroupId("quorvel");
  ASSERT_GT(group, 0);
  EXPECT_LT(group, 1000) << "a system group";

  struct stat helper {};
  ASSERT_EQ(stat((m_root / kHelper).c_str(), &helper), 0);
  EXPECT_EQ(helper.st_uid, 0u);
  EXPECT_EQ(helper.st_gid, static_cast<gid_t>(group));
  EXPECT_EQ(helper.st_mode & 07777, 0750u);
  EXPECT_EQ(Capabilities(m_root / kHelper), kHelperCapabilities);
  EXPECT_EQ(Capabilities(m_root / "usr/bin/quorvel"), "none") << "the window is never granted anything";
  EXPECT_NE(ReadWholeText(m_root / "var/lib/dpkg/statoverride").find(" 750 /usr/bin/quorvel-capture"), std::string::npos);
  // The flow export service's user, unprivileged, may run the helper.
  const std::string groups = ReadWholeText(m_root / "etc/group");
  EXPECT_NE(groups.find("quorvel:x:" + std::to_string(group) + ":quorvel-export"), std::string::npos) << groups;
  EXPECT_NE(ReadWholeText(m_root / "etc/passwd").find("quorvel-export:x:"), std::string::npos);

  // Configured again, as after an upgrade: the same group, still granted.
  const ProgramRun again = RunScript("postinst", "configure");
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(GroupId("quorvel"), group);
  EXPECT_EQ(Capabilities(m_root / kHelper), kHelperCapabilities);

  const ProgramRun purge = RunScript("postrm", "purge");
  ASSERT_EQ(purge.exitCode, 0) << purge.err;
  EXPECT_EQ(ReadWholeText(m_root / "var/lib/dpkg/statoverride").find("quorvel-capture"), std::string::npos);
}

// A group quorvel made for people (an ordinary group's number) is not
// taken over with its members: the configuration fails, says why, and the
// helper is left as it was. Where the administrator chose the helper's
// owner, or the group is a system group from an earlier installation, the
// configuration goes ahead.
TEST_F(MaintainerScriptTest, PostinstRefusesAnOrdinaryGroupNamedQuorvel) {
  const struct {
    const char* name;
    long groupId;
    const char* statOverride;
    bool configured;
  } cases[] = {
      {"an ordinary group", 1001, "", false},
      {"an ordinary group, the helper's owner chosen", 1001, "root root 700 /usr/bin/quorvel-capture\n", true},
      {"a system group", 990, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(m_root / "etc/group") << "root:x:0:\nusers:x:100:\nquorvel:x:" << c.groupId << ":alice\n";
    std::ofstream(m_root / "etc/gshadow") << "root:*::\nusers:*::\nquorvel:!::alice\n";
    std::ofstream(m_root / "var/lib/dpkg/statoverride") << c.statOverride;
    const ProgramRun configure = RunScript("postinst", "configure");
    EXPECT_EQ(configure.exitCode == 0, c.configured) << configure.err;
    EXPECT_EQ(Capabilities(m_root / kHelper), c.configured ? std::string(kHelperCapabilities) : "none");
    if (!c.configured) {
      EXPECT_NE(configure.err.find("a group named quorvel exists already, and it is not a system group"),
                std::string::npos)
          << configure.err;
      EXPECT_EQ(ReadWholeText(m_root / "var/lib/dpkg/statoverride"), "");
    }
    EXPECT_EQ(GroupId("quorvel"), c.groupId) << "the same group, no second one";
  }
}

// A member of the group captures without root; anyone else cannot even run
// the helper. Through the files as the postinst left them.
TEST_F(MaintainerScriptTest, MembersOfTheGroupCaptureAndNoOneElse) {
  ASSERT_EQ(RunScript("postinst", "configure").exitCode, 0);
  struct statvfs mount {};
  ASSERT_EQ(statvfs(m_root.c_str(), &mount), 0);
  if (mount.f_flag & ST_NOSUID) GTEST_SKIP() << m_root << " is on a nosuid mount, where file capabilities do nothing";
  const auto group = static_cast<gid_t>(GroupId("quorvel"));
  const std::string helper = (m_root / kHelper).string();

  // Its input ends at once: it opens the adapter, reports, and stops.
  const ProgramRun member = RunProgram(helper, {"lo"}, {}, RunAs{kNobody, kNobody, {group}});
  EXPECT_EQ(member.exitCode, 0) << member.err;
  EXPECT_EQ(member.err.rfind("opened\n", 0), 0u) << member.err;
  const ProgramRun other = RunProgram(helper, {"lo"}, {}, RunAs{kNobody, kNobody, {}});
  EXPECT_EQ(other.exitCode, 126) << "not allowed to run it";
}

// Where the file system keeps no file capabilities the installation still
// succeeds, and says how to capture. A ramfs, in a mount namespace of the
// script's own, is such a file system.
TEST_F(MaintainerScriptTest, PostinstWithoutExtendedAttributesSucceedsAndSaysHowToCapture) {
  const std::string unshare = SystemProgram("unshare");
  if (unshare.empty()) GTEST_SKIP() << "unshare missing";
  const fs::path unpacked = m_root / "unpacked", mounted = m_root / "ramfs";
  fs::create_directories(unpacked);
  fs::create_directories(mounted);
  Unpack(unpacked);
  const std::string script =
      "mount -t ramfs ramfs \"$1\" && cp -a \"$2\"/. \"$1\" && DPKG_ROOT=\"$1\" \"$3\" configure && "
      "stat -c '%U:%a' \"$1/usr/bin/quorvel-capture\"";
  const ProgramRun run = RunProgram(unshare, {"--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh",
                                              mounted.string(), unpacked.string(), (s_control / "postinst").string()},
                                    {{"PATH", kSystemPath}});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "root:750\n") << "owner and mode are set all the same";
  EXPECT_NE(run.err.find("could not give /usr/bin/quorvel-capture the capabilities"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("sudo setcap cap_net_raw,cap_net_admin,cap_bpf=p /usr/bin/quorvel-capture"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("sudo quorvel"), std::string::npos) << run.err;
}

}  // namespace
