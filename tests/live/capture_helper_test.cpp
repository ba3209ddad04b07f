// quorvel-capture on its own, as the session and a user at a shell run it:
// its answers to bad and good command lines, its commands, the capture
// file it writes, and the capabilities it holds once the adapter is open.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/settings_fixture.h"
#include "platform/app_files.h"
#include "support/other_user.h"
#include "support/process_status.h"
#include "test_network.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uid_t kNobody = 65534;

// One run of the helper with its output in a file, its input and its
// reports on pipes; started from the calling thread's namespace, as root or
// as nobody.
class HelperRun {
 public:
  HelperRun(const std::string& program, const std::vector<std::string>& arguments, const std::string& output,
            bool asNobody) {
    int input[2], reports[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(reports, O_CLOEXEC) != 0) return;
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<char*> argv = {const_cast<char*>("quorvel-capture")};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
      if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(120);
      dup2(input[0], STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(reports[1], STDERR_FILENO);
      execv(program.c_str(), argv.data());
      _exit(121);
    }
    close(input[0]);
    close(reports[1]);
    close(out);
    m_input = input[1];
    m_reports = reports[0];
  }
  ~HelperRun() {
    if (m_input >= 0) close(m_input);
    if (m_reports >= 0) close(m_reports);
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  HelperRun(const HelperRun&) = delete;
  HelperRun& operator=(const HelperRun&) = delete;

  pid_t Pid() const { return m_pid; }

  // The next report line, or "" when none came within two seconds.
  std::string NextReport() {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    for (;;) {
      const auto end = m_pending.find('\n');
      if (end != std::string::npos) {
        std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd readable = {m_reports, POLLIN, 0};
      if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) return {};
      char bytes[512];
      const ssize_t count = read(m_reports, bytes, sizeof bytes);
      if (count <= 0) return {};
      m_pending.append(bytes, static_cast<std::size_t>(count));
    }
  }
  // The next report that is not a count.
  std::string NextReportBut(const char* skipped) {
    std::string line;
    do line = NextReport();
    while (line.rfind(skipped, 0) == 0);
    return line;
  }

  void Send(const std::string& line) { ASSERT_EQ(write(m_input, line.data(), line.size()), ssize_t(line.size())); }
  void CloseInput() {
    close(m_input);
    m_input = -1;
  }

  // The exit code, or -1 when it did not end within two seconds.
  int WaitForExit() {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    return -1;
  }

 private:
  pid_t m_pid = -1;
  int m_input = -1;
  int m_reports = -1;
  std::string m_pending;
};

class CaptureHelperTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    std::filesystem::permissions(Folder(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                               std::filesystem::perms::others_exec);
  }

  std::unique_ptr<HelperRun> Run(const std::vector<std::string>& arguments, bool asNobody = false,
                                 const std::string& program = platform::CaptureHelperPath()) {
    std::unique_ptr<HelperRun> run;
    m_network.InCaptureNamespace([&] { run = std::make_unique<HelperRun>(program, arguments, Output(), asNobody); });
    return run;
  }
  std::vector<std::string> OnTestLink() { return {"--timeout=20", m_network.CaptureInterface()}; }
  std::string Output() const { return (Folder() / "out.pcap").string(); }
  // Waits until the helper has written `bytes` of output.
  bool OutputReaches(std::uintmax_t bytes) const {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (std::filesystem::file_size(Output()) < bytes) {
      if (Clock::now() >= deadline) return false;
      usleep(5000);
    }
    return true;
  }
  static constexpr std::uintmax_t kFileHeader = 24, kRecordHeader = 16;

  // Nobody runs a copy of the helper in the test's folder: the build's own
  // may lie out of their reach. Why there can be none, or "".
  std::string CopyForNobody() const {
    return other_user::CopyRunnableBy(kNobody, Folder(), {platform::CaptureHelperPath()});
  }
  std::string NobodysCopy() const { return (Folder() / "quorvel-capture").string(); }
  static void GrantCapture(const std::string& program) {
    cap_t raw = cap_from_text("cap_net_raw=p");
    const int granted = cap_set_file(program.c_str(), raw);
    cap_free(raw);
    EXPECT_EQ(granted, 0) << std::strerror(errno);
  }

  bool SendUdp(std::uint16_t port, std::uint16_t length) {
    return m_network.Send(
        {RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1000, port, length)});
  }

  TestNetwork m_network;
};

TEST_F(CaptureHelperTest, RefusesWhatItCannotOpen) {
  if (const std::string noCopy = CopyForNobody(); !noCopy.empty()) GTEST_SKIP() << noCopy;
  const std::string tooLong(64, 'e');
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    bool asNobody;
    const char* report;  // the start of it
    int exitCode;
  } cases[] = {
      {"device name with a space", {"bad name"}, false, "open-failed error invalid device name", 2},
      {"device name that is a path", {"../lo"}, false, "open-failed error invalid device name", 2},
      {"device name like an option", {"--", "-lo"}, false, "open-failed error invalid device name", 2},
      {"device name too long", {tooLong}, false, "open-failed error invalid device name", 2},
      {"two devices", {"lo", "lo"}, false, "open-failed error exactly one device name expected", 2},
      {"snap length out of range", {"--snaplen=262145", "lo"}, false, "open-failed error invalid snap length", 2},
      {"unknown option", {"--promiscuous=yes", "lo"}, false, "open-failed error unknown option", 2},
      {"no such device", {"qvnosuch0"}, false, "open-failed error ", 1},
      {"no permission", {"lo"}, true, "open-failed permission ", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto helper = Run(c.arguments, c.asNobody, c.asNobody ? NobodysCopy() : platform::CaptureHelperPath());
    EXPECT_EQ(helper->NextReport().rfind(c.report, 0), 0u);
    EXPECT_EQ(helper->WaitForExit(), c.exitCode);
  }
}

// Root or nobody with the capability granted to the file: once it says
// the adapter is open, the helper holds no capability and cannot gain one;
// the promiscuous open needed no CAP_NET_ADMIN.
TEST_F(CaptureHelperTest, HoldsNoCapabilityOnceOpen) {
  if (const std::string noCopy = CopyForNobody(); !noCopy.empty()) GTEST_SKIP() << noCopy;
  GrantCapture(NobodysCopy());
  for (const bool asNobody : {false, true}) {
    SCOPED_TRACE(asNobody ? "nobody, capability granted to the file" : "root");
    auto helper = Run(OnTestLink(), asNobody, asNobody ? NobodysCopy() : platform::CaptureHelperPath());
    ASSERT_EQ(helper->NextReport(), "opened");
    const ProcessStatus status(helper->Pid());
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) EXPECT_EQ(status.Hex(set), 0u) << set;
    EXPECT_EQ(status.Field("NoNewPrivs"), "1");
    EXPECT_EQ(m_network.CapturePromiscuity(), 1);
    helper->CloseInput();
    EXPECT_EQ(helper->WaitForExit(), 0);
    EXPECT_EQ(m_network.CapturePromiscuity(), 0);
  }
}

// A filter that does not compile is refused with the library's text and
// changes nothing; one that does is in force from the next read. A stop
// command ends the capture; the file is the library's own format, read by
// the library, and holds exactly the frames the filters let through.
TEST_F(CaptureHelperTest, FiltersStopAndTheFileItWrites) {
  auto helper = Run(OnTestLink());
  ASSERT_EQ(helper->NextReport(), "opened");
  helper->Send("filter udp port 9 and\n");
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-failed can't parse filter expression: syntax error");
  ASSERT_TRUE(SendUdp(7, 100));
  // Read and written before the next filter comes (the library would apply
  // that one to a frame still waiting in the kernel's buffer).
  ASSERT_TRUE(OutputReaches(kFileHeader + kRecordHeader + 114));
  helper->Send("filter udp port 9\n");
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");
  ASSERT_TRUE(SendUdp(7, 200));
  ASSERT_TRUE(SendUdp(9, 300));
  helper->Send("filter\n");  // no filter
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");
  ASSERT_TRUE(SendUdp(8, 400));
  EXPECT_EQ(helper->NextReport().rfind("stats ", 0), 0u) << "the counts come once a second";
  EXPECT_TRUE(OutputReaches(kFileHeader + 3 * kRecordHeader + 114 + 314 + 414));
  helper->Send("stop\n");
  EXPECT_EQ(helper->WaitForExit(), 0);

  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* file = pcap_open_offline(Output().c_str(), error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(pcap_datalink(file), DLT_EN10MB);
  std::vector<unsigned> lengths;
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  while (pcap_next_ex(file, &header, &frame) == 1) lengths.push_back(header->len - 14);
  pcap_close(file);
  EXPECT_EQ(lengths, (std::vector<unsigned>{100, 300, 400}));
}

TEST_F(CaptureHelperTest, EndOfInputIsAStop) {
  auto helper = Run(OnTestLink());
  ASSERT_EQ(helper->NextReport(), "opened");
  helper->CloseInput();
  EXPECT_EQ(helper->NextReport().rfind("stats ", 0), 0u) << "the last counts";
  EXPECT_EQ(helper->WaitForExit(), 0);
}

}  // namespace
