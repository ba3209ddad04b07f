// quorvel-capture on its own, as the session and a user at a shell run it:
// its answers to bad and good command lines, its commands, the capture
// file it writes, and the capabilities it holds once the adapter is open.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/capability.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "capture_helper/socket_event.h"
#include "helper_run.h"
#include "platform/app_files.h"
#include "support/process_status.h"
#include "support/test_cgroup.h"

namespace {

class CaptureHelperTest : public CaptureHelperFixture {
 protected:
  // Nobody's copy of the helper, granted what it needs, as the package
  // and scripts/run grant it.
  std::string GrantedCopy() {
    cap_t raw = cap_from_text("cap_net_raw,cap_net_admin,cap_bpf=p");
    const int granted = cap_set_file(NobodysHelper().c_str(), raw);
    cap_free(raw);
    EXPECT_EQ(granted, 0) << std::strerror(errno);
    return NobodysHelper();
  }
};

TEST_F(CaptureHelperTest, RefusesWhatItCannotOpen) {
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
      {"filter time-out out of range", {"--filter-timeout=99", "lo"}, false,
       "open-failed error invalid filter time-out", 2},
      {"cgroup not an absolute path", {"--socket-events=sys/fs/cgroup", "lo"}, false, "open-failed error invalid cgroup",
       2},
      {"no such device", {"qvnosuch0"}, false, "open-failed error ", 1},
      {"no permission", {"lo"}, true, "open-failed permission ", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto helper = Run(c.arguments, c.asNobody ? HelperLaunch::User::kNobody : HelperLaunch::User::kRoot);
    EXPECT_EQ(helper->NextReport().rfind(c.report, 0), 0u);
    EXPECT_EQ(helper->WaitForExit(), c.exitCode);
  }
}

// Root or nobody with the capabilities granted to the file: once it says
// the adapter is open, the helper holds no capability and cannot gain one,
// with its socket programs attached (to a cgroup of the test's own) or
// without them; the promiscuous open needed no CAP_NET_ADMIN.
TEST_F(CaptureHelperTest, HoldsNoCapabilityOnceOpen) {
  const TestCgroup cgroup;
  for (const bool asNobody : {false, true})
    for (const bool socketEvents : {false, true}) {
      if (socketEvents && !cgroup.Unavailable().empty()) {
        std::cout << "socket programs not tried: " << cgroup.Unavailable() << "\n";
        continue;
      }
      SCOPED_TRACE(asNobody ? "nobody, capabilities granted to the file" : "root");
      SCOPED_TRACE(socketEvents ? "socket programs attached" : "no socket programs");
      std::vector<std::string> options;
      if (socketEvents) options.push_back("--socket-events=" + cgroup.Path());
      auto helper = Run({.program = asNobody ? GrantedCopy() : platform::CaptureHelperPath(),
                         .arguments = OnTestLink(options),
                         .user = asNobody ? HelperLaunch::User::kNobody : HelperLaunch::User::kRoot,
                         .socketEvents = socketEvents});
      ASSERT_EQ(helper->NextReport(), "opened");
      if (socketEvents) {
        SocketEvent first{};
        EXPECT_EQ(read(helper->SocketEventsFd(), &first, sizeof first), static_cast<ssize_t>(sizeof first));
        EXPECT_EQ(first.kind, kSocketEventsAttached) << "the programs are attached";
      }
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
  EXPECT_EQ(FramesInOutput(), (std::vector<unsigned>{114, 314, 414}));
}

// A session that takes a capture over sends the filter in force with the
// start: it is in the kernel before the open is reported, so the first
// frames are filtered and counted as such; its reply follows the open's.
TEST_F(CaptureHelperTest, AFilterSentWithTheStartIsInForceFromTheFirstFrame) {
  auto helper = Run(OnTestLink());
  helper->Send("filter udp port 9\n");
  ASSERT_EQ(helper->NextReport(), "opened");
  ASSERT_TRUE(SendUdp(7, 200));
  ASSERT_TRUE(SendUdp(9, 300));
  EXPECT_EQ(helper->NextReportBut("stats"), "filter-installed");
  helper->CloseInput();
  EXPECT_EQ(helper->WaitForExit(), 0);
  const std::vector<std::string> reports = helper->RemainingReports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().rfind("stats 1 0 0 0", 0), 0u) << reports.back() << ": what the kernel let through";
  EXPECT_EQ(FramesInOutput(), (std::vector<unsigned>{14 + 300}));
}

TEST_F(CaptureHelperTest, EndOfInputIsAStop) {
  auto helper = Run(OnTestLink());
  ASSERT_EQ(helper->NextReport(), "opened");
  helper->CloseInput();
  EXPECT_EQ(helper->NextReport().rfind("stats ", 0), 0u) << "the last counts";
  EXPECT_EQ(helper->WaitForExit(), 0);
}

}  // namespace
