#include "helper_run.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "platform/app_files.h"
#include "support/other_user.h"

namespace {

using Clock = std::chrono::steady_clock;

bool BecomeNobody(bool holdingTheCapability) {
  if (holdingTheCapability && prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return false;
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return false;
  if (!holdingTheCapability) return true;
  cap_t raw = cap_from_text("cap_net_raw=eip");
  const bool held = raw != nullptr && cap_set_proc(raw) == 0;
  cap_free(raw);
  return held && prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_RAW, 0, 0) == 0;
}

bool SeeResolverConfiguration(const std::string& file) {
  return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount(file.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
}

// In the forked child: only plain system calls from here on.
[[noreturn]] void StartHelper(const HelperLaunch& launch, char* const* argv, int input, int output, int reports,
                              int socketEvents) {
  if (!launch.resolverConfigurationFile.empty() && !SeeResolverConfiguration(launch.resolverConfigurationFile))
    _exit(119);
  const bool nobody = launch.user != HelperLaunch::User::kRoot;
  if (nobody && !BecomeNobody(launch.user == HelperLaunch::User::kNobodyHoldingTheCapability)) _exit(120);
  dup2(input, STDIN_FILENO);
  dup2(output, STDOUT_FILENO);
  dup2(reports, STDERR_FILENO);
  if (socketEvents >= 0) dup2(socketEvents, STDERR_FILENO + 1);
  execv(launch.program.c_str(), argv);
  _exit(121);
}

}  // namespace

HelperRun::HelperRun(const HelperLaunch& launch, const std::string& outputFile) {
  int input[2], reports[2], output[2] = {-1, -1}, events[2] = {-1, -1};
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(reports, O_CLOEXEC) != 0) return;
  if (launch.socketEvents) {
    if (pipe2(events, O_CLOEXEC) != 0) return;
    // Above descriptor 3, so that the child's dup2 to 3 leaves it open.
    const int above = fcntl(events[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 2);
    close(events[1]);
    events[1] = above;
  }
  if (launch.outputToPipe ? pipe2(output, O_CLOEXEC) != 0
                          : (output[1] = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) < 0)
    return;
  std::vector<char*> argv = {const_cast<char*>("quorvel-capture")};
  for (const std::string& argument : launch.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) StartHelper(launch, argv.data(), input[0], output[1], reports[1], events[1]);
  close(input[0]);
  close(reports[1]);
  close(output[1]);
  if (events[1] >= 0) close(events[1]);
  m_socketEvents = events[0];
  m_input = input[1];
  m_reports = reports[0];
  m_output = output[0];
}

HelperRun::~HelperRun() {
  for (const int fd : {m_input, m_reports, m_output, m_socketEvents})
    if (fd >= 0) close(fd);
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

std::string HelperRun::NextReport() {
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

std::string HelperRun::NextReportBut(const char* skipped) {
  std::string line;
  do line = NextReport();
  while (!line.empty() && line.rfind(skipped, 0) == 0);
  return line;
}

std::vector<std::string> HelperRun::RemainingReports() {
  std::vector<std::string> lines;
  for (std::string line; !(line = NextReport()).empty();) lines.push_back(line);
  return lines;
}

void HelperRun::Send(const std::string& line) {
  ASSERT_EQ(write(m_input, line.data(), line.size()), ssize_t(line.size()));
}

void HelperRun::CloseInput() {
  close(m_input);
  m_input = -1;
}

void HelperRun::CloseOutput() {
  close(m_output);
  m_output = -1;
}

int HelperRun::WaitForExit(int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
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

void CaptureHelperFixture::SetUp() {
  if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
  std::filesystem::permissions(Folder(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                             std::filesystem::perms::others_exec);
  const std::filesystem::path helper = NobodysHelper();
  const std::string noCopy = other_user::CopyRunnableBy(kNobody, helper.parent_path(), {platform::CaptureHelperPath()});
  if (!noCopy.empty()) GTEST_SKIP() << noCopy;
}

std::unique_ptr<HelperRun> CaptureHelperFixture::Run(HelperLaunch launch) {
  if (launch.program.empty())
    launch.program = launch.user == HelperLaunch::User::kRoot ? platform::CaptureHelperPath() : NobodysHelper();
  std::unique_ptr<HelperRun> run;
  m_network.InCaptureNamespace([&] { run = std::make_unique<HelperRun>(launch, Output()); });
  return run;
}

std::unique_ptr<HelperRun> CaptureHelperFixture::Run(const std::vector<std::string>& arguments,
                                                     HelperLaunch::User user) {
  return Run(HelperLaunch{.arguments = arguments, .user = user});
}

std::vector<std::string> CaptureHelperFixture::OnTestLink(std::vector<std::string> options) const {
  options.insert(options.begin(), "--timeout=20");
  options.push_back(m_network.CaptureInterface());
  return options;
}

bool CaptureHelperFixture::OutputReaches(std::uintmax_t bytes) const {
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (std::filesystem::file_size(Output()) < bytes) {
    if (Clock::now() >= deadline) return false;
    usleep(5000);
  }
  return true;
}

std::vector<unsigned> CaptureHelperFixture::FramesInOutput() const {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* file = pcap_open_offline(Output().c_str(), error);
  EXPECT_NE(file, nullptr) << error;
  std::vector<unsigned> lengths;
  if (file == nullptr) return lengths;
  EXPECT_EQ(pcap_datalink(file), DLT_EN10MB);
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  while (pcap_next_ex(file, &header, &frame) == 1) lengths.push_back(header->len);
  pcap_close(file);
  return lengths;
}

bool CaptureHelperFixture::SendUdp(std::uint16_t port, std::uint16_t length) {
  return m_network.Send(
      {RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1000, port, length)});
}

std::uint64_t OutputDropped(const std::string& stats) {
  std::uint64_t counts[4] = {};
  if (std::sscanf(stats.c_str(), "stats %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64, &counts[0], &counts[1], &counts[2], &counts[3]) != 4)
    return ~std::uint64_t{0};
  return counts[3];
}
