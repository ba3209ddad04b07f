#include "export/closed_connection_stream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "support/file_text.h"
#include "support/test_folder.h"

namespace {

ClosedConnection Connection(std::uint32_t n) {
  ClosedConnection connection;
  connection.endpoints.source = IpAddress::Ipv4(htonl(0x0A000000 + n));
  connection.endpoints.destination = IpAddress::Ipv4(htonl(0x0A0000FE));
  connection.endpoints.protocol = 17;
  connection.bytes = 100 * n;
  connection.packets = n;
  connection.reason = CloseReason::kEnd;
  return connection;
}

// Hands `count` connections to a stream on `path` as the end of a run does
// and closes it.
void EndARun(CClosedConnectionStream& stream, const std::string& path, std::uint32_t count) {
  std::string error;
  ASSERT_TRUE(stream.Open(path, error)) << error;
  stream.WaitForRoomFromNowOn();
  for (std::uint32_t n = 1; n <= count; ++n) stream.ConnectionClosed(Connection(n));
  stream.Close();
}

// A reader that stops reading, or goes away, never holds the end of a run
// up for good nor ends the program: what it did not take is counted lost.
TEST(ClosedConnectionStreamTest, AReaderThatStallsOrGoesAwayCostsLinesNotTheRun) {
  TestFolder folder;
  const std::string fifo = (folder.Path() / "closed.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const bool goesAway : {false, true}) {
    SCOPED_TRACE(goesAway ? "goes away" : "stalls");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    CClosedConnectionStream stream(ExportFormat::kJsonLines, {false, true});
    std::string error;
    ASSERT_TRUE(stream.Open(fifo, error)) << error;
    if (goesAway) close(reader);
    const auto started = std::chrono::steady_clock::now();
    stream.WaitForRoomFromNowOn();
    // Far more than a pipe holds (64 KiB: about 300 lines).
    for (std::uint32_t n = 1; n <= 5000; ++n) stream.ConnectionClosed(Connection(n));
    stream.Close();
    // Its patience and no more; the rest is slack for a slow machine.
    EXPECT_LT(std::chrono::steady_clock::now() - started, CClosedConnectionStream::kEndPatience + std::chrono::seconds(10));
    EXPECT_GT(stream.Lost(), 0u);
    EXPECT_EQ(stream.Written() + stream.Lost(), 5000u);
    EXPECT_EQ(stream.WriteError(), goesAway ? "Broken pipe" : "its reader did not take the lines in time");
    if (!goesAway) close(reader);
  }
}

// A disk that fills keeps whole lines only, as many as it counts written.
TEST(ClosedConnectionStreamTest, AFullDiskKeepsWholeLinesAndCountsTheRest) {
  TestFolder folder;
  const std::string disk = (folder.Path() / "disk").string();
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "cannot mount a small disk (root only)";
  CClosedConnectionStream stream(ExportFormat::kJsonLines, {false, true});
  EndARun(stream, disk + "/closed.jsonl", 1000);
  const std::string text = ReadWholeText(disk + "/closed.jsonl");
  umount2(disk.c_str(), MNT_DETACH);
  EXPECT_EQ(stream.WriteError(), "No space left on device");
  EXPECT_GT(stream.Written(), 0u);
  EXPECT_EQ(stream.Written() + stream.Lost(), 1000u);
  EXPECT_EQ(static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')), stream.Written());
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "no line cut short";
}

}  // namespace
