// The packet log when its file does not keep up: a FIFO that no one reads,
// one read slowly, a disk that fills up. quorvel-replay is run as a user
// runs it: it ends promptly whatever the log does, every record in the file
// is whole and there once, in order, and the records that are not there
// are the summary's log_lost.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/file_text.h"
#include "support/ip_packet.h"
#include "support/pcap_writer.h"
#include "support/test_folder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kFirstSource = 0x0A000000;  // packet n comes from 10.0.0.0 + n

// Small UDP packets, each from an address of its own, so that a log line
// tells which packet it stands for.
void WriteNumberedCapture(const std::filesystem::path& path, std::uint32_t count) {
  PcapWriter writer(path.string(), DLT_RAW);
  for (std::uint32_t n = 1; n <= count; ++n)
    writer.Write(IpPacket{kFirstSource + n, 0x0AFFFFFE, 5000, 53, 17, 60}.Bytes());
}

struct ReplayRun {
  bool ended = false;  // by itself, in time
  int exitCode = -1;
  Clock::duration took{};
  std::string summary;  // the line on standard error that gives the figures

  std::uint64_t Figure(const std::string& name) const {
    const std::size_t at = (" " + summary).find(" " + name + "=");
    return at == std::string::npos ? ~std::uint64_t{0} : std::stoull(summary.substr(at + name.size() + 1));
  }
  // From the end of the replay to the end of the process: the log's close
  // and the exit, and the program's start (slow under a sanitizer).
  Clock::duration AfterReplay() const {
    const std::size_t at = summary.find(" seconds=");
    if (at == std::string::npos) return took;
    return took - std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(std::stod(summary.substr(at + 9))));
  }
};

// quorvel-replay with `arguments`, its connections thrown away; killed
// when it has not ended within `patience`.
ReplayRun RunReplay(const std::vector<std::string>& arguments, const std::filesystem::path& errors,
                    Clock::duration patience = 20s) {
  std::vector<std::string> strings{QUORVEL_REPLAY};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ReplayRun run;
  const Clock::time_point start = Clock::now();
  pid_t child = -1;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() - start > patience) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(5ms);
  }
  run.took = Clock::now() - start;
  run.ended = WIFEXITED(status);
  run.exitCode = run.ended ? WEXITSTATUS(status) : -1;
  // After the warnings, if any.
  std::istringstream lines(ReadWholeText(errors));
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("packets=")) run.summary = line;
  return run;
}

// What a CSV log (layout 7) holds: the packets of the whole lines, in
// their order, and the lines that are not whole, the text after the last
// line end included.
struct LoggedPackets {
  std::vector<std::uint32_t> numbers;
  std::vector<std::string> torn;
};

LoggedPackets ReadCsvLog(const std::string& log) {
  LoggedPackets logged;
  std::size_t at = 0;
  for (std::size_t end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = log.substr(at, end - at);
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ';');) fields.push_back(field);
    in_addr source{};
    if (fields.size() != 8 || fields[2] != "UDP" || fields[7] != "53" ||
        inet_pton(AF_INET, fields[4].c_str(), &source) != 1) {
      logged.torn.push_back(line);
      continue;
    }
    logged.numbers.push_back(ntohl(source.s_addr) - kFirstSource);
  }
  if (at != log.size()) logged.torn.push_back(log.substr(at));
  return logged;
}

// Every line whole, every packet at most once and in order, and each
// packet either in the log or counted as lost.
void ExpectEachPacketLoggedOrCounted(const std::string& log, const ReplayRun& run, std::uint32_t packets) {
  const LoggedPackets logged = ReadCsvLog(log);
  EXPECT_TRUE(logged.torn.empty()) << logged.torn.size() << " lines not whole, the first: " << logged.torn.front();
  EXPECT_TRUE(std::is_sorted(logged.numbers.begin(), logged.numbers.end(), std::less_equal<>()))
      << "a packet logged twice, or out of order";
  EXPECT_EQ(run.Figure("packets"), packets) << run.summary;
  EXPECT_EQ(logged.numbers.size() + run.Figure("log_lost"), packets) << run.summary;
}

class PacketLogDiskTest : public ::testing::Test {
 protected:
  std::filesystem::path File(const char* name) const { return m_folder.Path() / name; }

  TestFolder m_folder;
};

// The FIFO's other end, opened by the test before the replay runs, read
// at `bytesPerSecond` (0: never) in a thread of its own; everything left
// is read once the replay has ended.
class FifoReader {
 public:
  FifoReader(const std::filesystem::path& path, std::size_t bytesPerSecond)
      : m_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
    if (m_fd >= 0 && bytesPerSecond > 0) m_thread = std::thread([this, bytesPerSecond] { ReadSlowly(bytesPerSecond); });
  }
  ~FifoReader() {
    Stop();
    if (m_fd >= 0) close(m_fd);
  }
  bool Ready() const { return m_fd >= 0; }

  // Once no one writes any more: all that came.
  std::string ReadToTheEnd() {
    Stop();
    ReadAvailable(SIZE_MAX);
    return m_text;
  }

 private:
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  void ReadSlowly(std::size_t bytesPerSecond) {
    constexpr auto kStep = 10ms;
    while (!m_stop) {
      ReadAvailable(bytesPerSecond * kStep.count() / 1000);
      std::this_thread::sleep_for(kStep);
    }
  }
  void ReadAvailable(std::size_t most) {
    char bytes[65536];
    for (std::size_t done = 0; done < most;) {
      const ssize_t n = read(m_fd, bytes, std::min(sizeof bytes, most - done));
      if (n <= 0) return;
      m_text.append(bytes, static_cast<std::size_t>(n));
      done += static_cast<std::size_t>(n);
    }
  }

  int m_fd;
  std::string m_text;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// A FIFO that is opened but never read: the log stalls at once. The
// replay ends as without a log, what the FIFO took is whole records, and
// the rest is counted.
TEST_F(PacketLogDiskTest, AFifoNoOneReadsHoldsUpNeitherTheReplayNorItsExit) {
  constexpr std::uint32_t kPackets = 20000;
  WriteNumberedCapture(File("packets.pcap"), kPackets);
  ASSERT_EQ(mkfifo(File("log").c_str(), 0600), 0);
  FifoReader stalled(File("log"), 0);
  ASSERT_TRUE(stalled.Ready());

  const ReplayRun run = RunReplay({"--log", "7", File("log"), File("packets.pcap")}, File("errors"));
  ASSERT_TRUE(run.ended) << "the replay did not end";
  EXPECT_EQ(run.exitCode, 0) << ReadWholeText(File("errors"));
  EXPECT_LT(run.AfterReplay(), 5s);
  EXPECT_GT(run.Figure("log_lost"), 0u) << run.summary;
  ExpectEachPacketLoggedOrCounted(stalled.ReadToTheEnd(), run, kPackets);
}

// A reader that drains the FIFO at 2 MB/s, far slower than the replay:
// the close gives up on the writer while it still gets on, in the middle
// of the log; nothing is written twice, and no line is cut.
TEST_F(PacketLogDiskTest, ASlowReaderGetsEachRecordOnceAndWhole) {
  constexpr std::uint32_t kPackets = 200000;
  WriteNumberedCapture(File("packets.pcap"), kPackets);
  ASSERT_EQ(mkfifo(File("log").c_str(), 0600), 0);
  FifoReader slow(File("log"), 2'000'000);
  ASSERT_TRUE(slow.Ready());

  const ReplayRun run = RunReplay({"--log", "7", File("log"), File("packets.pcap")}, File("errors"));
  ASSERT_TRUE(run.ended) << "the replay did not end";
  EXPECT_EQ(run.exitCode, 0) << ReadWholeText(File("errors"));
  EXPECT_LT(run.AfterReplay(), 5s) << "the close waited for the reader";
  EXPECT_GT(run.Figure("log_lost"), 0u) << "the reader kept up: " << run.summary;
  ExpectEachPacketLoggedOrCounted(slow.ReadToTheEnd(), run, kPackets);
}

// A disk of 64 KiB: writes are cut short, then refused. The file holds
// whole records only, and the summary counts every other one.
TEST_F(PacketLogDiskTest, AFullDiskKeepsWholeRecordsAndCountsTheRest) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a small file system of the test's own";
  constexpr std::uint32_t kPackets = 20000;
  WriteNumberedCapture(File("packets.pcap"), kPackets);
  const std::filesystem::path disk = File("disk");
  std::filesystem::create_directory(disk);
  // In a mount namespace of a thread of its own, gone with the thread:
  // nothing of it is seen, or left, outside.
  std::string skipped, log;
  ReplayRun run;
  std::thread([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
      skipped = std::string("no file system of its own: ") + std::strerror(errno);
      return;
    }
    run = RunReplay({"--log", "7", disk / "packets.log", File("packets.pcap")}, File("errors"));
    log = ReadWholeText(disk / "packets.log");
    umount2(disk.c_str(), MNT_DETACH);
  }).join();
  if (!skipped.empty()) GTEST_SKIP() << skipped;

  ASSERT_TRUE(run.ended) << "the replay did not end";
  EXPECT_EQ(run.exitCode, 0) << ReadWholeText(File("errors"));
  EXPECT_GT(log.size(), 60000u);
  EXPECT_GT(run.Figure("log_lost"), kPackets / 2) << run.summary;
  ExpectEachPacketLoggedOrCounted(log, run, kPackets);
}

}  // namespace
