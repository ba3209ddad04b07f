// The window's program as an unprivileged user starts it, with the grant
// an older Quorvel told users to put on it, and a plugin the user planted
// through QT_QPA_PLATFORM_PLUGIN_PATH: while it monitors a real adapter
// (through a granted copy of the helper), neither the window nor the
// plugin inside it holds a capability, and the helper holds none once the
// adapter is open. Root only, on the test's own network namespace.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "live/test_network.h"
#include "support/process_status.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr uid_t kNobody = 65534;

bool Eventually(const std::function<bool()>& condition, int seconds = 10) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The child of `parent` running `name`, or -1.
pid_t ChildNamed(pid_t parent, const std::string& name) {
  DIR* proc = opendir("/proc");
  pid_t found = -1;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    const ProcessStatus status(pid);
    if (status.Field("PPid") == std::to_string(parent) && status.Field("Name") == name) found = pid;
  }
  closedir(proc);
  return found;
}

bool Grant(const fs::path& file, const char* capabilities) {
  cap_t caps = cap_from_text(capabilities);
  const bool granted = cap_set_file(file.c_str(), caps) == 0;
  cap_free(caps);
  return granted;
}

class WindowCapabilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    char pattern[] = "/tmp/quorvel-window-caps-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    chmod(m_folder.c_str(), 0755);
    fs::create_directory(m_folder / "plugins");
    fs::create_directory(m_folder / "home");
    chown((m_folder / "home").c_str(), kNobody, kNobody);
    chmod((m_folder / "home").c_str(), 0700);
    // The program and its helper side by side, as an installation has them.
    fs::copy_file(QUORVEL_WINDOW_PROGRAM, m_folder / "quorvel");
    fs::copy_file(fs::path(QUORVEL_WINDOW_PROGRAM).parent_path() / "quorvel-capture", m_folder / "quorvel-capture");
    fs::copy_file(QUORVEL_ATTACK_PLUGIN, m_folder / "plugins" / "libattack.so");
    for (const char* file : {"quorvel", "quorvel-capture", "plugins/libattack.so"})
      chmod((m_folder / file).c_str(), 0755);
    std::ofstream(m_folder / "quorvel.dat") << "[main]\nadapternum=0\nautostart=1\n";
  }
  void TearDown() override {
    if (m_window > 0) {
      kill(m_window, SIGKILL);
      waitpid(m_window, nullptr, 0);
    }
    if (!m_folder.empty()) fs::remove_all(m_folder);
  }

  // The window as nobody, in the capture namespace, starting to monitor at
  // once (the only adapter there with an address is the test link).
  void StartWindowAsNobody() {
    const std::string program = (m_folder / "quorvel").string();
    const std::string log = (m_folder / "home" / "window.log").string();
    std::vector<std::string> environment = {
        // The planted platform first; it offers none, so the next one serves.
        "QT_QPA_PLATFORM=quorvelattack;offscreen", "QT_QPA_PLATFORM_PLUGIN_PATH=" + (m_folder / "plugins").string(),
        "QUORVEL_ATTACK_REPORT=" + Report().string(), "HOME=" + (m_folder / "home").string(),
        "XDG_RUNTIME_DIR=" + (m_folder / "home").string()};  // the adapter lock goes with the folder
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>("quorvel"), nullptr};
    m_network.InCaptureNamespace([&] {
      m_window = fork();
      if (m_window == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(120);
        execve(program.c_str(), argv, envp.data());
        _exit(121);
      }
    });
  }
  fs::path Report() const { return m_folder / "home" / "attack-report"; }
  std::string WindowLog() const {
    std::ifstream file(m_folder / "home" / "window.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  TestNetwork m_network;
  fs::path m_folder;
  pid_t m_window = -1;
};

TEST_F(WindowCapabilitiesTest, PlantedPluginFindsNothingToRaise) {
  ASSERT_TRUE(Grant(m_folder / "quorvel", "cap_net_raw,cap_net_admin=p")) << "the grant of older versions";
  ASSERT_TRUE(Grant(m_folder / "quorvel-capture", "cap_net_raw=p"));
  StartWindowAsNobody();

  ASSERT_TRUE(Eventually([&] { return m_network.CapturePromiscuity() == 1; })) << "not monitoring:\n" << WindowLog();
  pid_t helper = -1;
  ASSERT_TRUE(Eventually([&] { return (helper = ChildNamed(m_window, "quorvel-capture")) > 0; }));
  const ProcessStatus window(m_window);
  for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) EXPECT_EQ(window.Hex(set), 0u) << "window " << set;
  EXPECT_EQ(window.Field("Uid").substr(0, 5), "65534");
  // The helper gives its capability up right after the open.
  EXPECT_TRUE(Eventually([&] { return ProcessStatus(helper).Hex("CapPrm") == 0; }, 2));
  const ProcessStatus helperStatus(helper);
  for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
    EXPECT_EQ(helperStatus.Hex(set), 0u) << "helper " << set;
  EXPECT_EQ(helperStatus.Field("NoNewPrivs"), "1");

  std::ifstream report(Report());
  std::stringstream attack;
  attack << report.rdbuf();
  ASSERT_FALSE(attack.str().empty()) << "the planted plugin was not loaded:\n" << WindowLog();
  EXPECT_EQ(attack.str(), "CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\npacket socket: " +
                              std::to_string(EPERM) + "\n");

  // A window that is killed leaves no helper behind: its input ends.
  kill(m_window, SIGKILL);
  waitpid(m_window, nullptr, 0);
  m_window = -1;
  EXPECT_TRUE(Eventually([&] { return !ProcessStatus(helper).Exists() || ProcessStatus(helper).Field("State")[0] == 'Z'; }, 2));
  EXPECT_TRUE(Eventually([&] { return m_network.CapturePromiscuity() == 0; }, 2));
}

}  // namespace
