#include "table/connection_history.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kNowMs = 1796981405123;

ClosedConnection Closed(std::uint64_t bytes) {
  ClosedConnection closed;
  closed.endpoints.source = IpAddress::Ipv4(htonl(0x0A000001));
  closed.endpoints.destination = IpAddress::Ipv4(htonl(0x0A000002));
  closed.endpoints.sourcePort = htons(40000);
  closed.endpoints.destinationPort = htons(443);
  closed.endpoints.protocol = 6;
  closed.bytes = bytes;
  closed.packets = bytes / 100;
  return closed;
}

std::vector<std::uint64_t> BytesKept(const CConnectionHistory& history) {
  std::vector<std::uint64_t> bytes;
  for (std::size_t i = 0; i < history.Size(); ++i) bytes.push_back(history.At(i).bytes);
  return bytes;
}

// The times become wall-clock times from the moment the connection left;
// the figures, the owner (a program name of the kernel's 15 bytes whole)
// and the reason stay exact.
TEST(ConnectionHistoryTest, KeepsTheFiguresTimesOwnerAndReason) {
  CConnectionHistory history(10, [] { return kNowMs; });
  ClosedConnection closed = Closed(18446744073709551615u);
  closed.packets = 3;
  closed.firstSeen = 4294966000u;  // the ticks wrap between first and last
  closed.lastSeen = 2500;
  closed.closedAt = 12500;
  closed.reason = CloseReason::kStopped;
  closed.owner.pid = 4242;
  CopyOwnerName(closed.owner.program, "fifteen-letters");
  closed.owner.uidKnown = true;
  closed.owner.uid = 1000;
  CopyOwnerName(closed.owner.user, "alice");
  history.ConnectionClosed(closed);
  history.ConnectionClosed(Closed(100));
  EXPECT_EQ(history.Size(), 0u) << "nothing before the reader collects";

  const CConnectionHistory::Change change = history.Collect();
  EXPECT_EQ(change.added, 2u);
  EXPECT_EQ(change.dropped, 0u);
  ASSERT_EQ(history.Size(), 2u);
  const HistoryEntry& entry = history.At(0);
  EXPECT_EQ(entry.endpoints, closed.endpoints);
  EXPECT_EQ(entry.bytes, 18446744073709551615u);
  EXPECT_EQ(entry.packets, 3u);
  EXPECT_EQ(entry.lastSeenMs, kNowMs - 10000);
  EXPECT_EQ(entry.durationMs, 3796u);
  EXPECT_EQ(entry.FirstSeenMs(), kNowMs - 13796);
  EXPECT_EQ(entry.reason, CloseReason::kStopped);
  const ConnectionOwner owner = history.OwnerOf(entry);
  EXPECT_EQ(owner.pid, 4242);
  EXPECT_STREQ(owner.program, "fifteen-letters");
  EXPECT_STREQ(owner.user, "alice");
  const ConnectionOwner unknown = history.OwnerOf(history.At(1));
  EXPECT_FALSE(unknown.Known());
  EXPECT_STREQ(unknown.user, "");
}

// Past its size the history lets its oldest go and counts them, whether
// they were already collected or still waiting to be; numbers name the
// entries kept. A size of 0 keeps nothing.
TEST(ConnectionHistoryTest, BoundDropsTheOldestAndCountsThem) {
  CConnectionHistory history(3, [] { return kNowMs; });
  for (std::uint64_t bytes : {1, 2}) history.ConnectionClosed(Closed(bytes));
  history.Collect();
  for (std::uint64_t bytes : {3, 4, 5}) history.ConnectionClosed(Closed(bytes));
  const CConnectionHistory::Change change = history.Collect();
  EXPECT_EQ(change.added, 3u);
  EXPECT_EQ(change.dropped, 2u);
  EXPECT_EQ(BytesKept(history), (std::vector<std::uint64_t>{3, 4, 5}));
  EXPECT_EQ(history.FirstNumber(), 2u);
  EXPECT_EQ(history.Dropped(), 2u);

  for (std::uint64_t bytes : {6, 7, 8, 9, 10}) history.ConnectionClosed(Closed(bytes));
  history.Collect();
  EXPECT_EQ(BytesKept(history), (std::vector<std::uint64_t>{8, 9, 10}));
  EXPECT_EQ(history.Dropped(), 7u) << "two never collected, three let go";
  EXPECT_EQ(history.FirstNumber(), 5u);

  CConnectionHistory none(0);
  none.ConnectionClosed(Closed(1));
  none.Collect();
  EXPECT_EQ(none.Size(), 0u);
  EXPECT_EQ(none.Dropped(), 0u);
}

// The capture thread reports while the window collects: every connection
// is either kept or counted as dropped, in the order it came.
TEST(ConnectionHistoryTest, ReportsFromAnotherThreadWhileCollecting) {
  constexpr std::uint64_t kClosed = 20000;
  CConnectionHistory history(5000);
  std::thread capture([&history] {
    for (std::uint64_t i = 1; i <= kClosed; ++i) history.ConnectionClosed(Closed(i));
  });
  while (history.Size() + history.Dropped() < kClosed) history.Collect();
  capture.join();
  history.Collect();
  EXPECT_EQ(history.Size() + history.Dropped(), kClosed);
  ASSERT_EQ(history.Size(), 5000u);
  for (std::size_t i = 0; i < history.Size(); ++i) ASSERT_EQ(history.At(i).bytes, kClosed - 4999 + i);
}

}  // namespace
