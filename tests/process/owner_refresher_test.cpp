#include "process/owner_refresher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "process/local_sockets.h"

namespace {

using namespace std::chrono_literals;

// Waits, a few seconds at most, for a look at the sockets newer than
// `generation`.
bool WaitForGeneration(const COwnerRefresher& refresher, std::uint64_t generation) {
  for (int i = 0; i < 500 && refresher.Generation() <= generation; ++i) std::this_thread::sleep_for(10ms);
  return refresher.Generation() > generation;
}

std::string OwnName() {
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  return name;
}

// Sockets made after the first look are found once asked for: connections
// on loopback, whichever way their packets go, TCP and UDP of both
// families, are the test's own, with its process id and program name.
TEST(OwnerRefresherTest, FindsTheTestsOwnConnectionsOnceAsked) {
  COwnerRefresher refresher("/proc", 10ms);
  ASSERT_TRUE(WaitForGeneration(refresher, 0));
  for (const bool ipv6 : {false, true}) {
    SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
    LocalSocket listener(ipv6, SOCK_STREAM), client(ipv6, SOCK_STREAM);
    ASSERT_TRUE(listener.Listen() && client.ConnectTo(listener.Port()));
    LocalSocket accepted(accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC), ipv6);
    LocalSocket receiver(ipv6, SOCK_DGRAM), sender(ipv6, SOCK_DGRAM);
    ASSERT_TRUE(receiver.Bind() && sender.Bind() && sender.SendTo(receiver.Port()));

    const ConnectionEndpoints connections[] = {Between(client, accepted, 6), Between(accepted, client, 6),
                                               Between(sender, receiver, 17), Between(receiver, sender, 17)};
    ConnectionOwner owner;
    EXPECT_FALSE(refresher.Find(connections[0], owner)) << "not looked for yet";
    const std::uint64_t generation = refresher.Generation();
    refresher.WantOwners();
    ASSERT_TRUE(WaitForGeneration(refresher, generation));
    for (const ConnectionEndpoints& connection : connections) {
      ConnectionOwner found;
      ASSERT_TRUE(refresher.Find(connection, found));
      EXPECT_EQ(found.pid, getpid());
      EXPECT_EQ(found.program, OwnName());
      EXPECT_TRUE(found.uidKnown);
      EXPECT_EQ(found.uid, getuid());
    }
  }
  EXPECT_NE(refresher.Level(), AttributionLevel::kNone);
  EXPECT_EQ(refresher.LastError(), "");
}

// However often it is asked, it looks at most once per gap, and a stop
// does not wait for the gap to pass.
TEST(OwnerRefresherTest, LooksAtMostOncePerGap) {
  const auto start = std::chrono::steady_clock::now();
  {
    COwnerRefresher refresher("/proc", 10s);
    ASSERT_TRUE(WaitForGeneration(refresher, 0));
    for (int i = 0; i < 100; ++i) refresher.WantOwners();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(refresher.Generation(), 1u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
