#include "capture_helper/stream_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture_helper/numbered_frames.h"
#include "source/savefile_stream_reader.h"

namespace {

constexpr std::uint32_t kFrames = 12000;  // about 12 MiB, several times any ring

void Offer(StreamWriter& writer, std::uint32_t n) {
  OfferNumberedFrame(StreamWriter::OnFrame, reinterpret_cast<u_char*>(&writer), n);
}

// A writer on `fd` with the stream's header written.
struct Writer {
  Writer(int fd, std::size_t ringBytes) : dead(pcap_open_dead(DLT_EN10MB, 262144)), writer(fd, ringBytes) {
    EXPECT_TRUE(writer.Begin(dead));
  }
  ~Writer() { pcap_close(dead); }
  pcap_t* dead;
  StreamWriter writer;
};

// Offers `frames` frames, each once there is room for it (waiting for the
// reader, as a writer that may wait would), flushing every few dozen as
// the helper does after a read of the adapter; then writes the rest and
// closes the descriptor.
void WriteEveryFrame(int fd, std::size_t ringBytes, std::uint32_t frames) {
  {
    Writer stream(fd, ringBytes);
    for (std::uint32_t n = 0; n < frames; ++n) {
      while (!stream.writer.HasRoomFor(NumberedFrameBytes(n).size())) {
        pollfd writable = {fd, POLLOUT, 0};
        poll(&writable, 1, 1);
        stream.writer.Flush();
      }
      Offer(stream.writer, n);
      if (n % 50 == 49) {
        EXPECT_TRUE(stream.writer.Flush());
      }
    }
    EXPECT_TRUE(stream.writer.FlushAll(10000));
    EXPECT_EQ(stream.writer.DroppedFrames(), 0u);
  }
  close(fd);
}

// Reads the stream to its end and checks every whole record in it: each
// frame intact, in the order written, none twice. The frames found.
std::uint32_t ReadFrames(int fd, std::uint32_t expectedFrames) {
  SavefileStreamReader reader(64 << 20);
  for (;;) {
    const std::span<std::uint8_t> space = reader.Space();
    const ssize_t count = read(fd, space.data(), space.size());
    if (count <= 0) break;
    reader.Commit(static_cast<std::size_t>(count));
  }
  SavefileStreamReader::Record record;
  std::uint32_t found = 0;
  std::int64_t last = -1;
  while (reader.Read(record) == SavefileStreamReader::Next::kRecord) {
    EXPECT_GT(static_cast<std::int64_t>(record.seconds), last);
    last = record.seconds;
    const std::vector<std::uint8_t> frame = NumberedFrameBytes(record.seconds);
    EXPECT_EQ(std::vector<std::uint8_t>(record.data, record.data + record.capturedLength), frame)
        << "frame " << record.seconds;
    ++found;
  }
  EXPECT_FALSE(reader.Bad()) << reader.Error();
  EXPECT_LE(found, expectedFrames);
  return found;
}

// To a pipe the frames' pages are lent, not copied: a pipe larger than the
// writer's ring, left unread until it is full, must leave the writer
// without room rather than let it fill pages the pipe still holds. A pipe
// smaller than the ring and a file are written as they come.
TEST(StreamWriterTest, EveryFrameArrivesToAWriterThatWaitsForRoom) {
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
    std::thread writer(WriteEveryFrame, ends[1], c.ringBytes, kFrames);
    if (c.pipeBytes == 0) writer.join();
    if (c.readLate) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadFrames(ends[0], kFrames), kFrames);
    if (writer.joinable()) writer.join();
    close(ends[0]);
  }
}

// A reader that takes nothing never holds the writer up: the frames that
// do not fit are dropped and counted. At the end the writer waits for the
// reader a bounded time: a reader that comes gets all that was kept, the
// rest of one that does not come is counted as dropped (the stream then
// ends inside a record). Either way every frame is in the stream whole or
// counted, never both.
TEST(StreamWriterTest, AReaderThatDoesNotReadNeverHoldsTheWriterUp) {
  signal(SIGPIPE, SIG_IGN);  // as the helper does
  for (const bool readerComes : {true, false}) {
    SCOPED_TRACE(readerComes ? "the reader comes at the end" : "the reader does not come in time");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto stream = std::make_unique<Writer>(ends[1], StreamWriter::kRingBytes);
    auto offered = std::async(std::launch::async, [&stream] {
      for (std::uint32_t n = 0; n < kFrames; ++n) {
        Offer(stream->writer, n);
        if (n % 50 == 49) stream->writer.Flush();
      }
    });
    const bool quick = offered.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!quick) close(ends[0]);  // lets it go on
    offered.wait();
    ASSERT_TRUE(quick) << "the writer waited for the reader";
    EXPECT_TRUE(stream->writer.Blocked());
    EXPECT_GT(stream->writer.DroppedFrames(), 0u);

    std::future<std::uint32_t> arrived;
    if (readerComes) arrived = std::async(std::launch::async, ReadFrames, ends[0], kFrames);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(stream->writer.FlushAll(readerComes ? 5000 : 100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(readerComes ? 5 : 1));
    const std::uint64_t dropped = stream->writer.DroppedFrames();
    stream.reset();
    close(ends[1]);
    const std::uint32_t found = readerComes ? arrived.get() : ReadFrames(ends[0], kFrames);
    EXPECT_GT(found, 0u);
    EXPECT_EQ(found + dropped, kFrames) << found << " in the stream, " << dropped << " dropped";
    close(ends[0]);
  }
}

}  // namespace
