// What keeps quorvel-capture's packet socket from sending: no process of
// the same user can take it, and the helper itself can no longer send
// through it, whatever system call a flaw in it would try.
#include <grp.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "helper_run.h"
#include "support/child_process.h"
#include "support/other_user.h"

namespace {

constexpr int kDescriptorsTried = 16;

class CaptureHelperHardeningTest : public CaptureHelperFixture {
 protected:
  // How many frames of the probe's kind arrive at the sender end while
  // `during` runs (and the kernel's read time-out after it).
  template <typename During>
  int ProbeFramesAtTheSender(During during) {
    pcap_t* watch = nullptr;
    char error[PCAP_ERRBUF_SIZE] = {};
    bool watching = false;
    m_network.InSenderNamespace([&] {
      watch = pcap_create(m_network.SenderInterface().c_str(), error);
      watching = watch != nullptr && pcap_set_timeout(watch, 20) == 0 && pcap_activate(watch) >= 0;
    });
    bpf_program probes{};
    watching = watching && pcap_compile(watch, &probes, "ether proto 0x88b5", 1, PCAP_NETMASK_UNKNOWN) == 0 &&
               pcap_setfilter(watch, &probes) == 0 && pcap_setnonblock(watch, 1, error) == 0;
    pcap_freecode(&probes);
    int frames = -1;
    if (watching) {
      during();
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      frames = 0;
      for (int read; (read = pcap_dispatch(watch, -1, [](u_char*, const pcap_pkthdr*, const u_char*) {}, nullptr)) > 0;)
        frames += read;
    }
    if (watch != nullptr) pcap_close(watch);
    EXPECT_TRUE(watching) << error;
    return frames;
  }
};

// Started by a process that already held the capture capability (so that
// no change of credentials made it undumpable by itself), the helper's
// descriptors are out of reach of every other process of its user.
TEST_F(CaptureHelperHardeningTest, NoProcessOfTheSameUserTakesItsDescriptors) {
  auto helper = Run(OnTestLink(), HelperLaunch::User::kNobodyHoldingTheCapability);
  ASSERT_EQ(helper->NextReport(), "opened");
  const pid_t target = helper->Pid();
  ChildProcess taker = ChildProcess::Fork([target] {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return 100;
    const int process = static_cast<int>(syscall(SYS_pidfd_open, target, 0));
    if (process < 0) return 101;
    int taken = 0;
    for (int fd = 0; fd < kDescriptorsTried; ++fd) {
      if (syscall(SYS_pidfd_getfd, process, fd, 0) >= 0 || errno != EPERM) ++taken;
    }
    return taken;
  });
  const int status = taker.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "descriptors taken or not refused";
}

// The test copy of the helper tries to send a frame through its packet
// socket every way it could: with its system-call filter, every attempt is
// refused and nothing arrives at the other end; without it (the copy's own
// option), the same attempts send.
TEST_F(CaptureHelperHardeningTest, NothingIsSentThroughThePacketSocket) {
  const struct {
    const char* name;
    bool confined;
    const char* outcomes;
  } cases[] = {
      {"confined", true,
       "probe write=refused writev=refused send=refused sendmsg=refused sendmmsg=refused dup=refused "
       "fcntl=refused pidfd=refused"},
      {"unconfined", false,
       "probe write=sent writev=sent send=sent sendmsg=sent sendmmsg=sent dup=sent fcntl=sent pidfd=sent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = OnTestLink();
    if (!c.confined) arguments.insert(arguments.begin(), "--probe-unconfined");
    auto helper = Run({.program = QUORVEL_CAPTURE_PROBE, .arguments = arguments});
    ASSERT_EQ(helper->NextReport(), "opened");
    std::string outcomes;
    const int arrived = ProbeFramesAtTheSender([&] {
      helper->Send("probe-inject\n");
      outcomes = helper->NextReportBut("stats");
    });
    EXPECT_EQ(outcomes, c.outcomes);
    EXPECT_EQ(arrived, c.confined ? 0 : 8);
  }
}

}  // namespace
