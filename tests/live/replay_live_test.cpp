// quorvel-replay --live as a user runs it, in the capture namespace of a
// veth pair the test makes (root only; skipped otherwise): what it counts,
// how it ends, and its exit codes.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/other_user.h"
#include "support/process_status.h"
#include "support/settings_fixture.h"
#include "test_network.h"
#include "test_programs.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The number after "name=" in the summary line; -1 when it is not there.
long long SummaryField(const std::string& summary, const std::string& name) {
  const auto at = summary.find(" " + name + "=");
  const auto start = summary.rfind(name + "=", 0) == 0 ? 0 : at == std::string::npos ? std::string::npos : at + 1;
  if (start == std::string::npos) return -1;
  return std::atoll(summary.c_str() + start + name.size() + 1);
}

class ReplayLiveTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
  }
  void TearDown() override {
    if (m_tool <= 0) return;
    Signal(SIGTERM);  // so that it cleans up after itself
    Finish(5);
  }

  // Starts the tool in the capture namespace, its output into files; as
  // nobody, the copy that CopyForNobody made.
  void Launch(std::vector<std::string> arguments, bool asNobody = false) {
    arguments.insert(arguments.begin(), asNobody ? (Folder() / "quorvel-replay").string() : QUORVEL_REPLAY);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int out = open((Folder() / "out.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errors = open((Folder() / "errors.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_network.InCaptureNamespace([&] {
      m_tool = fork();
      if (m_tool == 0) {
        if (dup2(out, STDOUT_FILENO) < 0 || dup2(errors, STDERR_FILENO) < 0) _exit(120);
        if (asNobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(121);
        execv(argv[0], argv.data());
        _exit(122);
      }
    });
    close(out);
    close(errors);
    ASSERT_GT(m_tool, 0);
  }

  // Once its helper has opened the adapter and given up every right, the
  // frames that arrive are captured.
  bool WaitUntilCapturing() {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      for (const pid_t child : Children(m_tool))
        if (ProcessStatus(child).Field("NoNewPrivs") == "1") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void Signal(int signal) {
    if (m_tool > 0) kill(m_tool, signal);
  }

  // Its exit code once it has ended by itself within `seconds` (else it is
  // killed: -1).
  int Finish(int seconds = 15) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(m_tool, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        Signal(SIGKILL);
        waitpid(m_tool, &status, 0);
        m_tool = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_tool = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The tool and its helper, side by side in the test's folder: nobody runs
  // those copies, as the build's own may lie out of their reach. Why there
  // can be none, or "".
  std::string CopyForNobody() const {
    const std::filesystem::path tool = QUORVEL_REPLAY;
    return other_user::CopyRunnableBy(kNobody, Folder(), {tool, tool.parent_path() / "quorvel-capture"});
  }

  std::string Output() const { return ReadText(Folder() / "out.csv"); }
  std::string Errors() const { return ReadText(Folder() / "errors.txt"); }

  std::vector<std::uint8_t> Udp(std::uint16_t sourcePort, std::uint16_t totalLength) {
    return RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), sourcePort, 53, totalLength);
  }
  const std::string& Device() const { return m_network.CaptureInterface(); }

  TestNetwork m_network;
  pid_t m_tool = -1;

 private:
  static std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (folder == nullptr) return children;
    while (const dirent* task = readdir(folder)) {
      std::ifstream list(tasks + "/" + task->d_name + "/children");
      for (pid_t child = 0; list >> child;) children.push_back(child);
    }
    closedir(folder);
    return children;
  }
};

// What was sent is what it counts, in the CSV, the summary, the library's
// counts and the packet log; it ends by itself when its time is up.
TEST_F(ReplayLiveTest, CountsWhatWasSentAndEndsWhenItsTimeIsUp) {
  const std::string log = (Folder() / "packets.log").string();
  Launch({"--live", Device(), "--seconds", "2", "--log", "7", log});
  ASSERT_TRUE(WaitUntilCapturing()) << Errors();
  ASSERT_TRUE(m_network.Send({Udp(1000, 100), Udp(1000, 200), Udp(2000, 60), Udp(1000, 300), Udp(2000, 1000)}));
  EXPECT_EQ(Finish(), 0);

  const std::string net = "10.231." + std::to_string(ntohl(m_network.CaptureAddress()) >> 8 & 0xFF) + ".";
  EXPECT_EQ(Output(), "src,sport,dst,dport,proto,bytes,packets\n" + net + "2,1000," + net + "1,53,17,600,3\n" + net +
                          "2,2000," + net + "1,53,17,1060,2\n");
  const std::string summary = Errors();
  EXPECT_EQ(SummaryField(summary, "packets"), 5) << summary;
  EXPECT_EQ(SummaryField(summary, "total"), 1660);
  EXPECT_EQ(SummaryField(summary, "connections"), 2);
  EXPECT_GE(SummaryField(summary, "seconds"), 2);
  EXPECT_EQ(SummaryField(summary, "received"), 5);
  EXPECT_EQ(SummaryField(summary, "dropped"), 0);
  const std::string logged = ReadText(log);
  EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 5) << "one line per packet";
}

// A stop signal ends it at once, with everything it counted printed: also
// the frames that the helper still held when the signal came.
TEST_F(ReplayLiveTest, StopSignalsEndItWithItsOutput) {
  constexpr int kPackets = 20;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    Launch({"--live", Device()});
    ASSERT_TRUE(WaitUntilCapturing()) << Errors();
    ASSERT_TRUE(m_network.Send(std::vector<std::vector<std::uint8_t>>(kPackets, Udp(1000, 100))));
    const auto signalled = Clock::now();
    Signal(signal);
    EXPECT_EQ(Finish(), 0);
    EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(1));
    const std::string output = Output();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
    EXPECT_EQ(SummaryField(Errors(), "packets"), kPackets) << Errors();
    EXPECT_EQ(SummaryField(Errors(), "received"), kPackets);
  }
}

// Each connection that goes idle is in the --closed file while the capture
// still runs, the rest when it ends; --format prints the table as an export.
TEST_F(ReplayLiveTest, ClosedConnectionsAreStreamedAsTheyLeave) {
  const std::filesystem::path closed = Folder() / "closed.jsonl";
  Launch({"--live", Device(), "--idle", "1", "--closed", closed.string(), "--format", "jsonl"});
  ASSERT_TRUE(WaitUntilCapturing()) << Errors();
  ASSERT_TRUE(m_network.Send({Udp(1000, 100), Udp(1000, 200), Udp(1000, 300)}));
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (ReadText(closed).empty() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string idle = ReadText(closed);
  ASSERT_TRUE(m_network.Send({Udp(2000, 60)}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Signal(SIGTERM);
  EXPECT_EQ(Finish(), 0);

  const std::string both = ReadText(closed);
  ASSERT_EQ(std::count(idle.begin(), idle.end(), '\n'), 1) << "the idle one, while running: " << idle;
  EXPECT_NE(idle.find("\"sport\":1000,"), std::string::npos) << idle;
  EXPECT_NE(idle.find("\"bytes\":600,\"packets\":3,"), std::string::npos) << idle;
  EXPECT_NE(idle.find("\"reason\":\"idle\"}"), std::string::npos) << idle;
  ASSERT_EQ(both.rfind(idle, 0), 0u) << "appended to, never rewritten";
  const std::string end = both.substr(idle.size());
  EXPECT_NE(end.find("\"sport\":2000,"), std::string::npos) << end;
  EXPECT_NE(end.find("\"bytes\":60,\"packets\":1,"), std::string::npos) << end;
  EXPECT_NE(end.find("\"reason\":\"end\"}\n"), std::string::npos) << end;
  const std::string output = Output();
  EXPECT_EQ(output.rfind("{\"src\":", 0), 0u) << output;
  EXPECT_NE(output.find("\"sport\":2000,"), std::string::npos) << output;
  EXPECT_NE(Errors().find(" closed=2 closed_lost=0"), std::string::npos) << Errors();
}

// A flood into a kernel buffer far too small for it: the summary counts
// what the kernel lost.
TEST_F(ReplayLiveTest, DropsOfATinyKernelBufferAreInTheSummary) {
  Launch({"--live", Device(), "--buffer", "1"});
  ASSERT_TRUE(WaitUntilCapturing()) << Errors();
  m_network.StartFlood(Udp(7, 512));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // a buffer this small overflows at once
  m_network.StopFlood();
  Signal(SIGINT);
  EXPECT_EQ(Finish(), 0);
  const std::string summary = Errors();
  EXPECT_GT(SummaryField(summary, "dropped"), 0) << summary;
  EXPECT_GT(SummaryField(summary, "received"), SummaryField(summary, "dropped"));
}

// 1 with the monitor's own message when the adapter cannot be opened (with
// how to grant the right when that is what is missing), 2 for a command
// line it does not take.
TEST_F(ReplayLiveTest, ExitCodes) {
  if (const std::string noCopy = CopyForNobody(); !noCopy.empty()) GTEST_SKIP() << noCopy;
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    bool asNobody;
    int exitCode;
    const char* message;
  } cases[] = {
      {"no such adapter", {"--live", "qvnosuch0", "--seconds", "1"}, false, 1,
       "Error: 无法启动驱动程序\r\nError message : "},
      {"no right to capture", {"--live", Device(), "--seconds", "1"}, true, 1, "setcap cap_net_raw=p"},
      {"no device", {"--live"}, false, 2, "usage: "},
      {"a device and a file", {"--live", Device(), "file.pcap"}, false, 2, "usage: "},
      {"time for a file", {"--seconds", "1", "file.pcap"}, false, 2, "usage: "},
      {"buffer for a file", {"--buffer", "1", "file.pcap"}, false, 2, "usage: "},
      {"owners for a file", {"--processes", "file.pcap"}, false, 2, "usage: "},
      {"time not a number", {"--live", Device(), "--seconds", "-1"}, false, 2, "usage: "},
      {"buffer not a number", {"--live", Device(), "--buffer", "2M"}, false, 2, "usage: "},
      {"no such format", {"--live", Device(), "--format", "xml"}, false, 2, "usage: "},
      {"closed file in no folder", {"--live", Device(), "--closed", "/nonexistent/closed.jsonl"}, false, 1,
       "cannot write /nonexistent/closed.jsonl: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Launch(c.arguments, c.asNobody);
    EXPECT_EQ(Finish(), c.exitCode);
    EXPECT_NE(Errors().find(c.message), std::string::npos) << Errors();
    EXPECT_EQ(Output(), "");
  }
}

// Every program of the test is known by its process id, name and user in
// both families: a server and a client of its own on the capture side,
// TCP and UDP both ways; the programs of the other side, in a namespace of
// their own, are nobody's that the tool can see, and show nothing.
TEST_F(ReplayLiveTest, ProcessesNameTheTestsOwnServerAndClient) {
  ASSERT_TRUE(m_network.EnableIpv6());
  char text[INET_ADDRSTRLEN];
  const std::uint32_t captureAddress = m_network.CaptureAddress();
  const std::string capture4 = inet_ntop(AF_INET, &captureAddress, text, sizeof text);
  const std::uint32_t senderAddress = m_network.SenderAddress();
  const std::string sender4 = inet_ntop(AF_INET, &senderAddress, text, sizeof text);
  const std::string capture6 = TestNetwork::CaptureAddress6(), sender6 = TestNetwork::SenderAddress6();
  constexpr std::uint16_t kServerPort = 8081, kPeerPort = 9001;

  std::vector<int> peers;  // the other side's listeners, made there
  m_network.InSenderNamespace([&] {
    peers.push_back(BoundSocket(AF_INET, SOCK_STREAM, sender4, kPeerPort));
    peers.push_back(BoundSocket(AF_INET6, SOCK_STREAM, sender6, kPeerPort));
  });
  ASSERT_TRUE(peers[0] >= 0 && peers[1] >= 0);
  pid_t server = -1, client = -1;
  m_network.InCaptureNamespace([&] {
    server = StartProgram(
        "qv-owner-server",
        [&](std::vector<int>& sockets) {
          for (const int family : {AF_INET, AF_INET6})
            for (const int type : {SOCK_STREAM, SOCK_DGRAM})
              sockets.push_back(BoundSocket(family, type, family == AF_INET ? capture4 : capture6, kServerPort));
          return std::find(sockets.begin(), sockets.end(), -1) == sockets.end();
        },
        Serve);
  });
  ASSERT_GT(server, 0);
  Launch({"--live", Device(), "--processes", "--seconds", "3"});
  ASSERT_TRUE(WaitUntilCapturing()) << Errors();
  m_network.InCaptureNamespace([&] {
    client = StartProgram(
        "qv-owner-client",
        [&](std::vector<int>& sockets) {
          for (const int family : {AF_INET, AF_INET6}) {
            const int sock = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_storage peer = Endpoint(family, family == AF_INET ? sender4 : sender6, kPeerPort);
            if (connect(sock, reinterpret_cast<const sockaddr*>(&peer), SizeOf(peer)) != 0) return false;
            sockets.push_back(sock);
          }
          return true;
        },
        [](std::vector<int>&) {
          for (;;) pause();
        });
  });
  ASSERT_GT(client, 0);
  m_network.InSenderNamespace([&] { Greet(capture4, capture6, kServerPort); });
  EXPECT_EQ(Finish(), 0);
  kill(server, SIGKILL);
  kill(client, SIGKILL);
  waitpid(server, nullptr, 0);
  waitpid(client, nullptr, 0);
  for (const int peer : peers) close(peer);

  // src,sport,dst,dport,proto,bytes,packets,pid,process,user
  std::istringstream csv(Output());
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "src,sport,dst,dport,proto,bytes,packets,pid,process,user");
  std::map<std::string, int> owned;  // "protocol family direction program" -> rows
  while (std::getline(csv, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    if (fields.size() == 9) fields.push_back("");  // the last field empty
    ASSERT_EQ(fields.size(), 10u) << line;
    const bool fromCapture = fields[0] == capture4 || fields[0] == capture6;
    const std::string family = fields[0].find(':') != std::string::npos ? "IPv6" : "IPv4";
    const auto ours = [&](std::uint16_t port) {
      return fields[1] == std::to_string(port) || fields[3] == std::to_string(port);
    };
    const std::string owner = fields[8] + " " + fields[9];
    if (fields[8] == "qv-owner-server") {
      EXPECT_EQ(fields[7], std::to_string(server)) << line;
    }
    if (fields[8] == "qv-owner-client") {
      EXPECT_EQ(fields[7], std::to_string(client)) << line;
    }
    if (!ours(kServerPort) && !ours(kPeerPort)) {
      EXPECT_EQ(owner, " ") << "no program of the test: " << line;
      continue;
    }
    ++owned[fields[4] + " " + family + (fromCapture ? " out " : " in ") + owner];
  }
  const std::string root = "root";
  for (const std::string family : {"IPv4", "IPv6"}) {
    for (const std::string direction : {" in ", " out "}) {
      EXPECT_GT(owned["6 " + family + direction + "qv-owner-server " + root], 0) << family << direction;
      EXPECT_GT(owned["17 " + family + direction + "qv-owner-server " + root], 0) << family << direction;
      EXPECT_GT(owned["6 " + family + direction + "qv-owner-client " + root], 0) << family << direction;
    }
  }
  for (const auto& [row, count] : owned) EXPECT_NE(row.find("qv-owner-"), std::string::npos) << row;
}

}  // namespace
