#include "platform/capture_capabilities.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <sys/capability.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace {

// What opening an adapter needs: a packet socket. Errno of the attempt, 0
// on success.
int OpenPacketSocket() {
  const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// Capabilities belong to the thread: the test puts back the set it found,
// whatever the helper left behind.
class CaptureCapabilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::CaptureCapabilitiesPermitted())
      GTEST_SKIP() << "CAP_NET_RAW is not permitted here (run as root, or grant it to the test program)";
    saved_ = cap_get_proc();
  }
  void TearDown() override {
    if (saved_ == nullptr) return;
    cap_set_proc(saved_);
    cap_free(saved_);
  }

 private:
  cap_t saved_ = nullptr;
};

TEST_F(CaptureCapabilitiesTest, EffectiveOnlyInsideTheScope) {
  platform::LowerCaptureCapabilities();
  EXPECT_EQ(OpenPacketSocket(), EPERM);
  {
    platform::ScopedCaptureCapabilities raised;
    EXPECT_TRUE(raised.Raised());
    EXPECT_EQ(OpenPacketSocket(), 0);
  }
  EXPECT_EQ(OpenPacketSocket(), EPERM);
  EXPECT_TRUE(platform::CaptureCapabilitiesPermitted());
}

// An inner scope ends without taking away what an outer one raised.
TEST_F(CaptureCapabilitiesTest, ScopePutsBackWhatItFound) {
  platform::LowerCaptureCapabilities();
  platform::ScopedCaptureCapabilities outer;
  {
    platform::ScopedCaptureCapabilities inner;
    EXPECT_TRUE(inner.Raised());
  }
  EXPECT_EQ(OpenPacketSocket(), 0);
}

// A thread that was never granted them can raise nothing; the scope says
// so and capture is refused, as it would be for a program without them.
TEST_F(CaptureCapabilitiesTest, NothingToRaiseWithoutPermission) {
  bool raised = true;
  int error = 0;
  bool permitted = true;
  std::thread withoutPermission([&] {
    cap_t caps = cap_get_proc();
    cap_clear(caps);
    cap_set_proc(caps);
    cap_free(caps);
    permitted = platform::CaptureCapabilitiesPermitted();
    platform::ScopedCaptureCapabilities scope;
    raised = scope.Raised();
    error = OpenPacketSocket();
  });
  withoutPermission.join();
  EXPECT_FALSE(permitted);
  EXPECT_FALSE(raised);
  EXPECT_EQ(error, EPERM);
}

}  // namespace
