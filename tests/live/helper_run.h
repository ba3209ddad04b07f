#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/settings_fixture.h"
#include "test_network.h"

// How a test starts quorvel-capture.
struct HelperLaunch {
  enum class User {
    kRoot,
    kNobody,
    // Nobody holding CAP_NET_RAW already (ambient), as when a process that
    // holds it starts the helper: an exec that changes no credentials.
    kNobodyHoldingTheCapability,
  };
  std::string program = {};  // the built helper unless told (nobody: NobodysHelper)
  std::vector<std::string> arguments = {};
  User user = User::kRoot;
  bool outputToPipe = false;  // else to the file given
  bool socketEvents = false;  // a pipe at its descriptor 3, for --socket-events
  // Not empty: a file in the format of /etc/resolv.conf that the helper's
  // name lookups see in its place (in a mount namespace of its own).
  std::string resolverConfigurationFile = {};
};

// One run of the helper with its output in a file or on a pipe, its input
// and its reports on pipes; started from the calling thread's namespace.
class HelperRun {
 public:
  HelperRun(const HelperLaunch& launch, const std::string& outputFile);
  ~HelperRun();
  HelperRun(const HelperRun&) = delete;
  HelperRun& operator=(const HelperRun&) = delete;

  pid_t Pid() const { return m_pid; }

  // The next report line, or "" when none came within two seconds.
  std::string NextReport();
  // The next report that does not start with `skipped`.
  std::string NextReportBut(const char* skipped);
  // Every report until the helper's reports end (within two seconds).
  std::vector<std::string> RemainingReports();

  void Send(const std::string& line);
  void CloseInput();

  // With the output on a pipe: its reading end (-1 once closed).
  int OutputFd() const { return m_output; }
  // With socket events: the reading end of their channel.
  int SocketEventsFd() const { return m_socketEvents; }
  void CloseOutput();

  // The exit code (128 + the signal for one that killed it), or -1 when
  // it did not end within `seconds`.
  int WaitForExit(int seconds = 2);

 private:
  pid_t m_pid = -1;
  int m_input = -1;
  int m_reports = -1;
  int m_output = -1;
  int m_socketEvents = -1;
  std::string m_pending;
};

// quorvel-capture on the capture end of a veth pair of the test's own
// (root only; skipped otherwise).
class CaptureHelperFixture : public SettingsFixture {
 protected:
  static constexpr std::uintmax_t kFileHeader = 24, kRecordHeader = 16;

  void SetUp() override;

  std::unique_ptr<HelperRun> Run(HelperLaunch launch);
  std::unique_ptr<HelperRun> Run(const std::vector<std::string>& arguments,
                                 HelperLaunch::User user = HelperLaunch::User::kRoot);
  // The helper's arguments for the test's link, with a short read time-out.
  std::vector<std::string> OnTestLink(std::vector<std::string> options = {}) const;
  std::string Output() const { return (Folder() / "out.pcap").string(); }
  // The helper that nobody runs: a copy in the test's folder that SetUp
  // makes, as the build's own may lie out of their reach (a clone under a
  // folder of mode 0700).
  std::string NobodysHelper() const { return (Folder() / "nobody" / "quorvel-capture").string(); }
  // Waits until the helper has written `bytes` of output to the file.
  bool OutputReaches(std::uintmax_t bytes) const;
  // The length of every frame in the output file, link header included.
  std::vector<unsigned> FramesInOutput() const;
  bool SendUdp(std::uint16_t port, std::uint16_t length);

  TestNetwork m_network;
};

// The fourth count of a stats report: the frames the helper dropped.
std::uint64_t OutputDropped(const std::string& stats);

// Whether a report line is the helper's counts.
inline bool IsStats(const std::string& line) { return line.rfind("stats ", 0) == 0; }
