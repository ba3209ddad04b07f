// Quorvel installed with cmake --install into a folder of the test's own,
// and the installed programs run there as a user runs them: the window on
// the offscreen platform, with a home folder of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "packaging/installed_files.h"
#include "packaging/packaging_fixture.h"
#include "platform/crash_test_hooks.h"
#include "support/other_user.h"
#include "support/program_run.h"
#include "ui/product.h"

namespace {

using namespace packaging_test;

// A group nobody is not a member of, standing in for quorvel.
constexpr gid_t kCaptureGroup = 64999;

// Every entry under `root` with its size and time of last change.
using Snapshot = std::map<std::string, std::tuple<std::uintmax_t, fs::file_time_type>>;
Snapshot TakeSnapshot(const fs::path& root) {
  Snapshot entries;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    entries[entry.path().string()] = {entry.is_regular_file() ? entry.file_size() : 0, entry.last_write_time()};
  return entries;
}

// The entries made, changed or removed since `before`.
std::vector<std::string> Changes(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> changes;
  for (const auto& [path, state] : after)
    if (auto old = before.find(path); old == before.end() || old->second != state) changes.push_back(path);
  for (const auto& [path, state] : before)
    if (!after.count(path)) changes.push_back(path + " (removed)");
  return changes;
}

class InstallationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_prefix = MakeTempFolder("quorvel-prefix");
    const ProgramRun install =
        RunProgram(QUORVEL_CMAKE, {"--install", QUORVEL_BUILD_DIR, "--prefix", s_prefix.string()},
                   {{"PATH", kSystemPath}});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    s_plugins = MakeTempFolder("quorvel-plugins");
    fs::copy_file(QUORVEL_WINDOW_REPORT_PLUGIN, s_plugins / "libwindowreport.so");
    // Other users run the installed programs too.
    for (const fs::path& folder : {s_prefix, s_plugins})
      fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  }
  static void TearDownTestSuite() {
    fs::remove_all(s_prefix);
    fs::remove_all(s_plugins);
  }

  InstallationTest() : m_home(MakeTempFolder("quorvel-home")) {
    fs::create_directory(m_home / "runtime");
    fs::permissions(m_home / "runtime", fs::perms::owner_all);
  }
  ~InstallationTest() override { fs::remove_all(m_home); }

  static fs::path Installed(const std::string& relative) { return s_prefix / relative; }

  // A session without a display.
  std::map<std::string, std::string> Session() const {
    return {{"HOME", m_home.string()},
            {"PATH", kSystemPath},
            {"LANG", "C.UTF-8"},
            {"QUORVEL_LANG", "zh"},  // the texts checked are the Chinese ones unless a test says otherwise
            {"XDG_RUNTIME_DIR", (m_home / "runtime").string()}};
  }

  // The window on the offscreen platform, closed once it shows `await`
  // (at once when empty) after writing down what it showed.
  std::map<std::string, std::string> WindowSession(const std::string& await = {}) const {
    auto environment = Session();
    environment["QT_QPA_PLATFORM"] = "quorvelreport;offscreen";
    environment["QT_QPA_PLATFORM_PLUGIN_PATH"] = s_plugins.string();
    environment["QUORVEL_REPORT_FILE"] = (m_home / "report").string();
    if (!await.empty()) environment["QUORVEL_REPORT_AWAIT"] = await;
    return environment;
  }

  std::string Report() const { return ReadWholeText(m_home / "report"); }

  static std::string Read(const fs::path& path) { return ReadWholeText(path); }

  static inline fs::path s_prefix, s_plugins;
  fs::path m_home;
};

TEST_F(InstallationTest, PutsEveryFileInItsPlace) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(s_prefix))
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), s_prefix).string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, InstalledFiles());
  for (const char* program : {"bin/quorvel", "bin/quorvel-capture", "bin/quorvel-replay"})
    EXPECT_EQ(access(Installed(program).c_str(), X_OK), 0) << program;
}

TEST_F(InstallationTest, DesktopEntryAndCatalogueEntryPassTheirValidators) {
  const std::string id = product::kDesktopId;
  const fs::path desktop = Installed("share/applications/" + id + ".desktop");
  const fs::path metainfo = Installed("share/metainfo/" + id + ".metainfo.xml");
  const std::string entry = Read(desktop), catalogue = Read(metainfo);
  const std::vector<std::string> lines = {"Exec=quorvel\n", "Icon=" + id + "\n", "Categories=Network;Monitor;\n",
                                         "Name=",           "Name[zh_CN]=",     "Comment=",
                                         "Comment[zh_CN]="};
  for (const std::string& line : lines)
    EXPECT_NE(entry.find(line), std::string::npos) << line;
  const std::vector<std::string> parts = {"<id>" + id + "</id>",
                                          "<launchable type=\"desktop-id\">" + id + ".desktop</launchable>",
                                          std::string("<release version=\"") + product::kVersion + "\"", "<screenshot "};
  for (const std::string& part : parts)
    EXPECT_NE(catalogue.find(part), std::string::npos) << part;

  const std::string desktopValidator = SystemProgram("desktop-file-validate");
  const std::string catalogueValidator = SystemProgram("appstreamcli");
  if (desktopValidator.empty() || catalogueValidator.empty())
    GTEST_SKIP() << "desktop-file-validate or appstreamcli missing (Debian: desktop-file-utils, appstream); "
                    "scripts/test installs them";
  const ProgramRun desktopCheck = RunProgram(desktopValidator, {desktop.string()}, Session());
  EXPECT_EQ(desktopCheck.exitCode, 0) << desktopCheck.out << desktopCheck.err;
  EXPECT_EQ(desktopCheck.out + desktopCheck.err, "") << "no warning either";
  const ProgramRun catalogueCheck =
      RunProgram(catalogueValidator, {"validate", "--no-net", metainfo.string()}, Session());
  EXPECT_EQ(catalogueCheck.exitCode, 0) << catalogueCheck.out << catalogueCheck.err;
  EXPECT_EQ(catalogueCheck.out.find("W:"), std::string::npos) << catalogueCheck.out;
}

// The command line as a table: exit codes and what goes where. None of it
// needs a display, and none of it writes the settings.
TEST_F(InstallationTest, CommandLineOptions) {
  struct Case {
    const char* program;
    std::vector<std::string> arguments;
    int exitCode;
    std::string out;  // expected part of standard output
    std::string err;  // expected part of standard error
  };
  const std::string version = product::kVersion;
  const Case cases[] = {
      {"quorvel", {"--help"}, 0, "--adapter <DEVICE>", ""},
      {"quorvel", {"-h"}, 0, "Usage: quorvel [options] [document...]", ""},
      {"quorvel", {"--version"}, 0, "Quorvel " + version + "\n", ""},
      {"quorvel", {"-platform", "offscreen", "-v"}, 0, "Quorvel " + version + "\n", ""},
      {"quorvel", {"--bogus"}, 2, "", "Unknown option 'bogus'"},
      {"quorvel", {"--bogus"}, 2, "", "Usage: quorvel"},
      {"quorvel", {"--adapter"}, 2, "", "Missing value after '--adapter'"},
      {"quorvel", {"--adapter="}, 2, "", "--adapter"},
      {"quorvel-replay", {"--help"}, 0, "usage: quorvel-replay [--idle SECONDS]", ""},
      {"quorvel-replay", {"--version"}, 0, "quorvel-replay " + version + "\n", ""},
      {"quorvel-replay", {"--bogus"}, 2, "", "usage: quorvel-replay"},
      {"quorvel-replay", {}, 2, "", "usage: quorvel-replay"},
  };
  for (const Case& c : cases) {
    std::ostringstream name;
    name << c.program;
    for (const std::string& argument : c.arguments) name << ' ' << argument;
    SCOPED_TRACE(name.str());
    const ProgramRun run = RunProgram(Installed(std::string("bin/") + c.program).string(), c.arguments,
                                      Session());
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "");
    }
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    }
  }
  EXPECT_FALSE(fs::exists(m_home / ".config/quorvel/quorvel.dat"));
}

// What the installed window reads and writes, followed through the system
// calls when the tracer can run here: its read-only files from
// share/quorvel, its settings in the user's configuration folder, and
// nothing at all beside the program. A file may be opened by its whole
// path or by its name in a folder opened before, which the tracer names
// (-y) after the folder's descriptor.
TEST_F(InstallationTest, WindowKeepsItsFilesInTheUsersFolders) {
  const Snapshot before = TakeSnapshot(s_prefix);
  const std::string tracer = SystemProgram("strace");
  const fs::path trace = m_home / "trace";
  std::vector<std::string> arguments = {Installed("bin/quorvel").string()};
  std::string program = arguments.front();
  if (!tracer.empty()) {
    arguments.insert(arguments.begin(),
                     {"-f", "-qq", "-y", "-o", trace.string(), "-e",
                      "trace=open,openat,openat2,creat,mkdir,mkdirat,rename,renameat,renameat2,unlink,unlinkat"});
    program = tracer;
  }
  const ProgramRun run = RunProgram(program, arguments, WindowSession());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_NE(Report().find("title: " + std::string(product::kTitle)), std::string::npos) << Report();

  EXPECT_EQ(Changes(before, TakeSnapshot(s_prefix)), std::vector<std::string>()) << "nothing written beside the program";
  const fs::path config = m_home / ".config/quorvel";
  EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_all);
  EXPECT_NE(Read(config / "quorvel.dat").find("[main]"), std::string::npos) << "settings written at the end";

  if (tracer.empty() || !fs::exists(trace)) GTEST_SKIP() << "strace cannot follow the program here";
  std::istringstream lines(Read(trace));
  const std::string installed = s_prefix.string() + "/";
  bool readServices = false, usedSettings = false;
  std::vector<std::string> changesBesideTheProgram;
  for (std::string line; std::getline(lines, line);) {
    const bool succeeded = line.find(" = -1") == std::string::npos;
    if (line.find("\"" + installed + "share/quorvel/services\"") != std::string::npos && succeeded) readServices = true;
    const bool namesSettings = line.find("\"" + (config / "quorvel.dat").string() + "\"") != std::string::npos ||
                               (line.find("<" + config.string() + ">") != std::string::npos &&
                                line.find("\"quorvel.dat\"") != std::string::npos);
    if (namesSettings && succeeded) usedSettings = true;
    if (line.find(installed) == std::string::npos) continue;
    const bool opensForReading = line.find("open") != std::string::npos && line.find("O_WRONLY") == std::string::npos &&
                                 line.find("O_RDWR") == std::string::npos && line.find("O_CREAT") == std::string::npos;
    if (!opensForReading) changesBesideTheProgram.push_back(line);
  }
  EXPECT_EQ(changesBesideTheProgram, std::vector<std::string>());
  EXPECT_TRUE(readServices) << "port names from share/quorvel";
  EXPECT_TRUE(usedSettings);
}

TEST_F(InstallationTest, SettingsFollowXdgConfigHome) {
  const fs::path config = m_home / "elsewhere";
  fs::create_directories(config / "quorvel");
  std::ofstream(config / "quorvel/quorvel.dat") << "; kept by hand\n[main]\nidleseconds=37\n";
  auto environment = WindowSession();
  environment["XDG_CONFIG_HOME"] = config.string();
  const ProgramRun run = RunProgram(Installed("bin/quorvel").string(), {}, environment);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string settings = Read(config / "quorvel/quorvel.dat");
  EXPECT_NE(settings.find("; kept by hand\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("idleseconds=37"), std::string::npos) << "read from there, and written back" << settings;
  EXPECT_FALSE(fs::exists(m_home / ".config"));
}

TEST_F(InstallationTest, CrashReportGoesToTheUsersStateFolder) {
  const Snapshot before = TakeSnapshot(s_prefix);
  auto environment = Session();  // no display: the message goes to standard error
  const fs::path state = m_home / "state/deeper";
  environment["XDG_STATE_HOME"] = state.string();
  environment[platform::kDeliberateFaultVariable] = std::string(platform::kCrashTestToken) + ":null-write@main";
  const ProgramRun run = RunProgram(Installed("bin/quorvel").string(), {}, environment);
  EXPECT_EQ(run.exitCode, 255);
  const fs::path report = state / "quorvel/quorvel.RPT";
  EXPECT_EQ(Read(report).rfind("=====", 0), 0u) << report;
  EXPECT_EQ(fs::status(state / "quorvel").permissions(), fs::perms::owner_all);
  EXPECT_NE(run.err.find(report.string()), std::string::npos) << run.err;
  EXPECT_EQ(Changes(before, TakeSnapshot(s_prefix)), std::vector<std::string>());
}

// --adapter selects the adapter and starts monitoring as Start does: the
// title names the adapter, or the start's own message says why it could
// not (without root the installed helper has no capability here).
TEST_F(InstallationTest, AdapterOptionStartsMonitoring) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* device;
    const char* language;
    std::string await;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"lo", "zh", root ? " - [127.0.0.1" : "没有抓包权限",
       root ? std::vector<std::string>{"title: " + std::string(product::kTitle) + " - [127.0.0.1"}
            : std::vector<std::string>{"message: 无法启动驱动程序", "setcap cap_net_raw=p", "须重新启动"}},
      {"no-such-adapter", "zh", "no-such-adapter", {"message: 没有设备名为“no-such-adapter”的网络适配器。"}},
      {"no-such-adapter", "en", "no-such-adapter",
       {"message: There is no adapter with the device name \"no-such-adapter\"."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device) + " " + c.language);
    const ProgramRun run = RunProgram(Installed("bin/quorvel").string(), {"--adapter", c.device, "--lang", c.language},
                                      WindowSession(c.await));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& part : c.shown) EXPECT_NE(Report().find(part), std::string::npos) << Report();
  }
}

// Installed, the helper runs only for the members of its group: anyone
// else is told to join the group and log in again.
TEST_F(InstallationTest, NonMemberIsToldToJoinTheGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
  const fs::path helper = Installed("bin/quorvel-capture");
  ASSERT_EQ(chown(helper.c_str(), 0, kCaptureGroup), 0);
  ASSERT_EQ(chmod(helper.c_str(), 0750), 0);
  for (const auto& entry : fs::recursive_directory_iterator(m_home)) ASSERT_EQ(lchown(entry.path().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chown(m_home.c_str(), kNobody, kNobody), 0);

  const ProgramRun run = RunProgram(Installed("bin/quorvel").string(), {"--adapter", "lo"},
                                    WindowSession("没有抓包权限"), RunAs{kNobody, kNobody, {}});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> parts = {"cannot run " + helper.string() + ": Permission denied",
                                          "只有用户组 quorvel 的成员才能抓包", "sudo adduser 'nobody' quorvel", "重新登录"};
  for (const std::string& part : parts)
    EXPECT_NE(Report().find(part), std::string::npos) << part << "\n" << Report();
  ASSERT_EQ(chown(helper.c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(helper.c_str(), 0755), 0);
}

}  // namespace
