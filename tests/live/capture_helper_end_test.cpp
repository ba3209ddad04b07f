// How quorvel-capture ends, and what it serves until then, whatever its
// reader does: stop signals end it as a stop command does, a reader that
// does not read holds nothing up, and a reader that goes away ends it with
// its last counts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "helper_run.h"

namespace {

using Clock = std::chrono::steady_clock;

class CaptureHelperEndTest : public CaptureHelperFixture {
 protected:
  std::vector<std::uint8_t> Udp(std::uint16_t length) {
    return RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1000, 7, length);
  }
};

// Reads `bytes` of the helper's output pipe, within three seconds.
bool ReadOutput(HelperRun& helper, std::size_t bytes) {
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  char buffer[4096];
  while (bytes > 0 && Clock::now() < deadline) {
    pollfd readable = {helper.OutputFd(), POLLIN, 0};
    if (poll(&readable, 1, 100) <= 0) continue;
    const ssize_t count = read(helper.OutputFd(), buffer, std::min(bytes, sizeof buffer));
    if (count <= 0) return false;
    bytes -= static_cast<std::size_t>(count);
  }
  return bytes == 0;
}

// Ctrl+C, kill and a closed terminal: the frames the kernel had taken by
// then are written, every one, with the last counts after them, and the
// exit is a stop's.
TEST_F(CaptureHelperEndTest, StopSignalsEndItAsAStopDoes) {
  constexpr int kRequests = 20;
  const std::vector<std::vector<std::uint8_t>> requests(
      kRequests, EchoRequest(m_network.SenderAddress(), m_network.CaptureAddress(), 84));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    auto helper = Run(OnTestLink());
    ASSERT_EQ(helper->NextReport(), "opened");
    ASSERT_TRUE(m_network.Send(requests));
    kill(helper->Pid(), signal);
    EXPECT_EQ(helper->WaitForExit(), 0);
    const std::vector<std::string> reports = helper->RemainingReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(IsStats(reports.back())) << reports.back();
    // The requests and the answers the capture side's kernel gave them.
    EXPECT_EQ(FramesInOutput(), std::vector<unsigned>(2 * kRequests, 14 + 84));
  }
}

// Output on a pipe nobody reads, and a flood on the adapter: the counts
// still come every second, a filter is still answered and a stop still
// ends it in time. The frames that did not fit are counted, not kept.
TEST_F(CaptureHelperEndTest, AReaderThatDoesNotReadHoldsNothingUp) {
  HelperLaunch launch{.arguments = OnTestLink(), .outputToPipe = true};
  auto helper = Run(launch);
  ASSERT_EQ(helper->NextReport(), "opened");
  m_network.StartFlood(Udp(1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the pipe and the buffer are full by now
  for (int second = 0; second < 2; ++second) EXPECT_TRUE(IsStats(helper->NextReport()));
  helper->Send("filter udp port 9\n");
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");
  m_network.StopFlood();
  helper->Send("stop\n");
  const auto stopped = Clock::now();
  EXPECT_EQ(helper->WaitForExit(), 0);
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(2));
  const std::vector<std::string> reports = helper->RemainingReports();
  ASSERT_FALSE(reports.empty());
  EXPECT_GT(OutputDropped(reports.back()), 0u) << reports.back();
}

// The reader goes away, as `| head -c 1000` does, while frames come or on
// an idle link: the last counts, then the exit that says the output failed.
TEST_F(CaptureHelperEndTest, AReaderThatGoesAwayEndsItWithItsLastCounts) {
  for (const bool traffic : {true, false}) {
    SCOPED_TRACE(traffic ? "frames keep coming" : "idle link");
    // First: the flood's process would hold the output's reading end too.
    if (traffic) m_network.StartFlood(Udp(200));
    HelperLaunch launch{.arguments = OnTestLink(), .outputToPipe = true};
    auto helper = Run(launch);
    ASSERT_EQ(helper->NextReport(), "opened");
    EXPECT_TRUE(ReadOutput(*helper, traffic ? 1000 : kFileHeader));
    helper->CloseOutput();
    EXPECT_EQ(helper->WaitForExit(), 1);
    m_network.StopFlood();
    const std::vector<std::string> reports = helper->RemainingReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(IsStats(reports.back())) << reports.back();
  }
}

}  // namespace
