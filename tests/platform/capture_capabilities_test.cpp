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

bool HoldsAny() {
  cap_t held = cap_get_proc();
  cap_t none = cap_init();
  const bool any = cap_compare(held, none) != 0;
  cap_free(held);
  cap_free(none);
  return any;
}

// Capabilities belong to a thread: the drop runs on a thread of its own,
// so the test program keeps what it had.
TEST(CaptureCapabilitiesTest, DropLeavesNothingToRaise) {
  if (!HoldsAny()) GTEST_SKIP() << "this test program holds no capability to drop (run as root)";
  bool dropped = false, anyLeft = true;
  int error = 0;
  std::thread dropping([&] {
    dropped = platform::DropAllCapabilities();
    anyLeft = HoldsAny();
    cap_t raw = cap_get_proc();
    const cap_value_t netRaw = CAP_NET_RAW;
    cap_set_flag(raw, CAP_EFFECTIVE, 1, &netRaw, CAP_SET);
    cap_set_flag(raw, CAP_PERMITTED, 1, &netRaw, CAP_SET);
    EXPECT_NE(cap_set_proc(raw), 0) << "a dropped capability came back";
    cap_free(raw);
    error = OpenPacketSocket();
  });
  dropping.join();
  EXPECT_TRUE(dropped);
  EXPECT_FALSE(anyLeft);
  EXPECT_EQ(error, EPERM);
}

}  // namespace
