#include "process/owner_refresher.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/prctl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "process/local_sockets.h"
#include "support/child_process.h"

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
  refresher.WantOwners();
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

// It looks only when asked; however often it is asked, at most once per gap; and a stop
// does not wait for the gap to pass.
TEST(OwnerRefresherTest, LooksAtMostOncePerGap) {
  const auto start = std::chrono::steady_clock::now();
  {
    COwnerRefresher refresher("/proc", 10s);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(refresher.Generation(), 0u) << "no look before the first is asked for";
    refresher.WantOwners();
    ASSERT_TRUE(WaitForGeneration(refresher, 0));
    for (int i = 0; i < 100; ++i) refresher.WantOwners();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(refresher.Generation(), 1u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// Without any privilege, as nobody: its own process is found, a process of
// another user (root's, the test's) is shown by its user alone.
TEST(OwnerRefresherTest, AnotherUsersSocketsShowTheirUserAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as nobody";
  constexpr uid_t kNobody = 65534;
  LocalSocket roots(false, SOCK_DGRAM);
  ASSERT_TRUE(roots.Bind());
  // Taken now: the child closes root's socket, and its number goes to the next.
  const ConnectionEndpoints toRootsFromElsewhere = Between(roots, roots, 17);
  enum Fault { kBecome = 1, kOwnNotFound = 2, kRootsProgramShown = 4, kRootsUserMissing = 8, kLevel = 16 };
  ChildProcess child = ChildProcess::Fork([&] {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return int{kBecome};
    prctl(PR_SET_DUMPABLE, 1);  // as any program nobody starts
    close(roots.Fd());          // root's alone again
    LocalSocket own(false, SOCK_DGRAM);
    if (!own.Bind()) return int{kBecome};
    COwnerRefresher refresher;
    refresher.WantOwners();
    if (!WaitForGeneration(refresher, 0)) return int{kOwnNotFound};
    // From elsewhere: only the socket at the destination counts.
    ConnectionEndpoints toOwn = Between(own, own, 17), toRoots = toRootsFromElsewhere;
    toOwn.source = toRoots.source = IpAddress::Ipv4(htonl(0x0A000001));
    int faults = 0;
    ConnectionOwner owner;
    if (!refresher.Find(toOwn, owner) || owner.pid != getpid()) faults |= kOwnNotFound;
    owner = {};
    if (!refresher.Find(toRoots, owner) || !owner.uidKnown || owner.uid != 0 || std::string(owner.user) != "root")
      faults |= kRootsUserMissing;
    if (owner.pid != 0) faults |= kRootsProgramShown;
    if (refresher.Level() != AttributionLevel::kOwnProcesses) faults |= kLevel;
    return faults;
  });
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 could not become nobody, 2 own socket not found, 4 root's program "
                                       "shown, 8 root's user missing, 16 wrong level";
}

}  // namespace
