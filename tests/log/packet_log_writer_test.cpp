#include "log/packet_log_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>

#include "support/file_text.h"
#include "support/test_folder.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

void Put(PacketLogWriter& writer, const std::string& record) {
  writer.BeginRecord();
  writer.Append(record.data(), record.size());
  ASSERT_TRUE(writer.EndRecord());
}

std::size_t ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// A log on a FIFO that no one reads, opened and closed capture after
// capture: each close gives its writer up in time, and the writer ends
// then, with its buffer and its descriptor, rather than waiting for a
// reader for good.
TEST(PacketLogWriterTest, WritersGivenUpOnAStuckFifoEndWithTheirBuffers) {
  TestFolder folder;
  const std::filesystem::path fifo = folder.Path() / "stuck.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto lost = std::make_shared<PacketLogWriter::Counter>(0);
  std::shared_ptr<PacketLogWriter::ThreadEnd> previous;
  // A sanitizer's runtime starts a thread of its own with the first other
  // one: started here, it is counted before as well as after.
  std::thread([] {}).join();
  const std::size_t threadsBefore = ThreadCount();
  for (int capture = 0; capture < 6; ++capture) {
    SCOPED_TRACE(capture);
    PacketLogWriter writer(PacketLogFile::Open(fifo.c_str(), "a+"), kNoLimit, lost, previous);
    for (int n = 0; n < 1000; ++n) Put(writer, std::string(399, 'x') + "\n");  // several times what a FIFO holds
    previous = writer.End();
    const std::uint64_t lostBefore = lost->load();
    const Clock::time_point closing = Clock::now();
    writer.Close();
    EXPECT_LT(Clock::now() - closing, 1500ms);
    EXPECT_GT(lost->load(), lostBefore);
  }
  const Clock::time_point deadline = Clock::now() + 2s;
  while (ThreadCount() > threadsBefore && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

// A writer stuck inside the system (here in a write(2) to a blocking pipe
// that no one reads, as on a network share that hangs) is given up at the
// close and stays stuck. The next writer writes nothing while it is, so
// that no two are ever stuck, and gets on once it has ended.
TEST(PacketLogWriterTest, TheNextWriterWaitsWhileTheOneBeforeIsStuckInTheSystem) {
  TestFolder folder;
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  const int readEnd = ends[0];
  const auto lost = std::make_shared<PacketLogWriter::Counter>(0);
  std::shared_ptr<PacketLogWriter::ThreadEnd> stuckEnd;
  {
    PacketLogWriter stuck(PacketLogFile::Adopt(ends[1], "pipe"), kNoLimit, lost, nullptr);
    for (int n = 0; n < 200; ++n) Put(stuck, std::string(1023, 'x') + "\n");  // three times what the pipe holds
    stuckEnd = stuck.End();
    const Clock::time_point closing = Clock::now();
    stuck.Close();
    EXPECT_LT(Clock::now() - closing, 1500ms);
  }
  EXPECT_GT(lost->load(), 100u);

  const std::filesystem::path next = folder.Path() / "next.log";
  PacketLogWriter after(PacketLogFile::Open(next.c_str(), "a+"), kNoLimit, lost, stuckEnd);
  for (int n = 0; n < 3; ++n) Put(after, "line\r\n");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(std::filesystem::file_size(next), 0u) << "written while the writer before was stuck";

  // The pipe is read: the stuck write returns, and its writer, given up,
  // writes nothing more and closes the pipe.
  char bytes[65536];
  while (read(readEnd, bytes, sizeof bytes) > 0) {
  }
  close(readEnd);
  const Clock::time_point deadline = Clock::now() + 1s;
  while (std::filesystem::file_size(next) < 18 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  after.Close();
  EXPECT_EQ(ReadWholeText(next), "line\r\nline\r\nline\r\n");
}

}  // namespace
