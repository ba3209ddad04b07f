#include "capture_helper/stream_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "source/savefile_stream_reader.h"

namespace {

// The bytes of frame `n`: its length and every byte depend on n, so that a
// frame overwritten by a later one shows.
std::vector<std::uint8_t> FrameBytes(std::uint32_t n) {
  std::vector<std::uint8_t> frame(1 + n * 37 % 2000);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(n * 7 + i);
  return frame;
}

// Writes `frames` frames through a writer on `fd`, flushing every few
// dozen as the helper does after a read of the adapter, then closes it.
void WriteFrames(int fd, std::size_t ringBytes, std::uint32_t frames) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 262144);
  {
    StreamWriter writer(fd, ringBytes);
    EXPECT_TRUE(writer.Begin(dead));
    for (std::uint32_t n = 0; n < frames; ++n) {
      const std::vector<std::uint8_t> frame = FrameBytes(n);
      pcap_pkthdr header{};
      header.ts.tv_sec = n;
      header.caplen = static_cast<bpf_u_int32>(frame.size());
      header.len = header.caplen + 4;
      StreamWriter::OnFrame(reinterpret_cast<u_char*>(&writer), &header, frame.data());
      if (n % 50 == 49) {
        EXPECT_TRUE(writer.Flush());
      }
    }
    EXPECT_TRUE(writer.Flush());
  }
  pcap_close(dead);
  close(fd);
}

// Reads the stream to its end (so that the writer always finishes), then
// checks every frame in it.
void ExpectFrames(int fd, std::uint32_t frames) {
  SavefileStreamReader reader(64 << 20);
  for (;;) {
    const std::span<std::uint8_t> space = reader.Space();
    const ssize_t count = read(fd, space.data(), space.size());
    if (count <= 0) break;
    reader.Commit(static_cast<std::size_t>(count));
  }
  SavefileStreamReader::Record record;
  std::uint32_t n = 0;
  while (reader.Read(record) == SavefileStreamReader::Next::kRecord) {
    ASSERT_EQ(record.seconds, n);
    const std::vector<std::uint8_t> frame = FrameBytes(n);
    ASSERT_EQ(std::vector<std::uint8_t>(record.data, record.data + record.capturedLength), frame) << "frame " << n;
    ++n;
  }
  EXPECT_FALSE(reader.Bad()) << reader.Error();
  EXPECT_EQ(n, frames);
}

// To a pipe the frames' pages are lent, not copied: a pipe larger than the
// writer's ring, left unread until it is full, must make the writer wait
// rather than fill pages the pipe still holds. A pipe smaller than the ring
// and a file are written as they come.
TEST(StreamWriterTest, EveryFrameArrivesWhateverTheReaderDoes) {
  const struct {
    const char* name;
    int pipeBytes;  // 0: a file
    std::size_t ringBytes;
    bool readLate;
  } cases[] = {
      {"pipe larger than the ring, read late", 1 << 20, 64 << 10, true},
      {"pipe smaller than the ring, read late", 64 << 10, StreamWriter::kRingBytes, true},
      {"pipe read at once", 1 << 20, StreamWriter::kRingBytes, false},
      {"file", 0, 64 << 10, false},
  };
  constexpr std::uint32_t kFrames = 12000;  // about 12 MiB, several times any ring
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int ends[2] = {-1, -1};
    if (c.pipeBytes == 0) {
      char path[] = "/tmp/quorvel-stream-writer-XXXXXX";
      ends[1] = mkstemp(path);
      ends[0] = open(path, O_RDONLY);
      unlink(path);
    } else {
      ASSERT_EQ(pipe(ends), 0);
      ASSERT_GE(fcntl(ends[1], F_SETPIPE_SZ, c.pipeBytes), c.pipeBytes);
    }
    std::thread writer(WriteFrames, ends[1], c.ringBytes, kFrames);
    if (c.pipeBytes == 0) writer.join();
    if (c.readLate) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ExpectFrames(ends[0], kFrames);
    if (writer.joinable()) writer.join();
    close(ends[0]);
  }
}

}  // namespace
