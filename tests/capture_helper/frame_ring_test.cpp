// The frames' hand-off through shared memory: the helper's RingWriter and
// the session's FrameRingReader over one memory file, each side treating
// the other as it would a stranger.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "capture_helper/numbered_frames.h"
#include "capture_helper/ring_writer.h"
#include "source/frame_ring_reader.h"

namespace {

namespace fr = frame_ring;
using Next = FrameRingReader::Next;

constexpr std::uint32_t kRingFrames = 12000;  // about 12 MiB: a dozen rounds of the ring

// True when the frame went into the ring, false when it was dropped.
bool OfferToRing(RingWriter& writer, std::uint32_t n) {
  const std::uint64_t dropped = writer.DroppedFrames();
  OfferNumberedFrame(RingWriter::OnFrame, writer.HandlerArgument(), n);
  return writer.DroppedFrames() == dropped;
}

bool IsFrame(const FrameRingReader::Record& record, std::uint32_t n) {
  const std::vector<std::uint8_t> frame = NumberedFrameBytes(n);
  return record.seconds == n && record.capturedLength == frame.size() && record.wireLength == frame.size() + 4 &&
         std::memcmp(record.data, frame.data(), frame.size()) == 0;
}

// The bytes the doorbell holds, read without waiting.
int Bells(int fd) {
  char bells[64];
  int count = 0;
  for (ssize_t got; (got = read(fd, bells, sizeof bells)) > 0;) count += static_cast<int>(got);
  return count;
}

// A reader's ring, a writer attached to it as the helper's would be, and
// the doorbell between them.
class FrameRingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(reader.Create(error, fr::kMinRingBytes)) << error;
    ASSERT_EQ(pipe2(doorbell, O_CLOEXEC | O_NONBLOCK), 0);
    writer = std::make_unique<RingWriter>(dup(reader.Fd()), doorbell[1]);
    ASSERT_TRUE(writer->Attach(error)) << error;
    dead = pcap_open_dead(DLT_EN10MB, 262144);
    writer->Begin(dead);
    ASSERT_EQ(reader.ReadHeader(), Next::kNeedBytes) << reader.Error();
    ASSERT_EQ(reader.LinkType(), DLT_EN10MB);
  }
  void TearDown() override {
    writer.reset();
    if (dead != nullptr) pcap_close(dead);
    close(doorbell[0]);
    close(doorbell[1]);
  }
  // Reads what was published, checking each frame from `n` on; the count.
  std::uint32_t ReadPublished(std::uint32_t& n) {
    FrameRingReader::Record record;
    std::uint32_t count = 0;
    while (reader.Read(record) == Next::kRecord) {
      EXPECT_TRUE(IsFrame(record, n)) << "frame " << n;
      ++n;
      ++count;
    }
    return count;
  }

  FrameRingReader reader;
  int doorbell[2] = {-1, -1};
  std::unique_ptr<RingWriter> writer;
  pcap_t* dead = nullptr;
};

// A writer that waits for room (as the helper never does, to lose nothing
// here) and a reader that sleeps until the doorbell rings: every frame
// arrives whole and in order across a dozen rounds of the ring.
TEST_F(FrameRingTest, EveryFrameArrivesWholeAndInOrderAcrossTheRingsEnd) {
  std::uint64_t refused = 0;  // offers that found the ring full, counted as drops
  auto written = std::async(std::launch::async, [this, &refused] {
    for (std::uint32_t n = 0; n < kRingFrames; ++n) {
      while (!OfferToRing(*writer, n)) {
        ++refused;
        writer->Flush();
        std::this_thread::yield();
      }
      writer->Publish();
      if (n % 50 == 49) writer->Flush();
    }
    writer->FlushAll(0);
  });
  std::uint32_t n = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (n < kRingFrames && std::chrono::steady_clock::now() < deadline) {
    ReadPublished(n);
    reader.Release();
    if (reader.Sleep()) {
      pollfd bell = {doorbell[0], POLLIN, 0};
      poll(&bell, 1, 100);
      Bells(doorbell[0]);
    }
    reader.Awake();
  }
  written.get();
  EXPECT_EQ(n, kRingFrames);
  EXPECT_FALSE(reader.Bad()) << reader.Error();
  EXPECT_EQ(writer->DroppedFrames(), refused);
}

// A reader that does not read costs the writer frames, dropped and
// counted, never a wait; what it took stays whole, and once it reads again
// the writer has room again.
TEST_F(FrameRingTest, AReaderThatDoesNotReadCostsFramesNeverAWait) {
  std::uint32_t taken = 0;
  auto offered = std::async(std::launch::async, [&] {
    for (std::uint32_t n = 0; n < kRingFrames; ++n) taken += OfferToRing(*writer, n);
    writer->Flush();
  });
  ASSERT_EQ(offered.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the writer waited";
  offered.get();
  EXPECT_EQ(taken + writer->DroppedFrames(), kRingFrames);
  EXPECT_GT(writer->DroppedFrames(), 0u);
  std::uint32_t n = 0;
  EXPECT_EQ(ReadPublished(n), taken);
  reader.Release();
  EXPECT_TRUE(OfferToRing(*writer, kRingFrames)) << "room again once the reader released";
}

// A reader that keeps up reads from the ring's first part again and again:
// once the writing has gone half way into the (smallest) ring, the next
// read of the adapter starts at the ring's start; a reader that lags
// reads on around the ring, and loses nothing.
TEST_F(FrameRingTest, AReaderThatKeepsUpReadsFromTheRingsStart) {
  FrameRingReader::Record record;
  const std::uint8_t* lowest = nullptr;
  const std::uint8_t* highest = nullptr;
  std::uint32_t n = 0;
  for (; n < 3000; ++n) {  // 3 MiB: three rings' worth
    ASSERT_TRUE(OfferToRing(*writer, n));
    writer->Publish();
    ASSERT_EQ(reader.Read(record), Next::kRecord);
    ASSERT_TRUE(IsFrame(record, n));
    if (lowest == nullptr || record.data < lowest) lowest = record.data;
    if (highest == nullptr || record.data > highest) highest = record.data;
    reader.Release();
  }
  EXPECT_LT(highest - lowest, static_cast<std::ptrdiff_t>(fr::kMinRingBytes / 2 + 2048));
  std::uint32_t first = n;
  for (; n < first + 500; ++n) {
    ASSERT_TRUE(OfferToRing(*writer, n));
    writer->Publish();
  }
  EXPECT_EQ(ReadPublished(first), 500u) << "nothing written over what was not read";
}

// Of what the reader writes, the helper reads its tail and its sleep, and
// uses a tail only where it lies between the last one and the published
// head: a reader that lies about its tail cannot make the helper write
// over records it has not released, and a reader that claims to sleep all
// the time gets one bell per flush at most.
TEST_F(FrameRingTest, TheHelperTrustsNothingTheReaderWrites) {
  auto* consumer = static_cast<fr::ConsumerPage*>(mmap(nullptr, fr::kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED,
                                                       reader.Fd(), fr::ConsumerOffset(fr::kMinRingBytes)));
  ASSERT_NE(consumer, MAP_FAILED);
  std::uint32_t taken = 0;
  while (OfferToRing(*writer, taken)) ++taken;  // a full ring, nothing released
  writer->Publish();
  for (const std::uint64_t lie : {~std::uint64_t{0}, std::uint64_t{fr::kMinRingBytes} * 5, std::uint64_t{1} << 40}) {
    SCOPED_TRACE(lie);
    consumer->tail = lie;
    EXPECT_FALSE(OfferToRing(*writer, taken)) << "the ring is full whatever the reader says";
  }
  consumer->tail = 0;
  consumer->sleeping = 1;
  for (int flush = 0; flush < 3; ++flush) EXPECT_TRUE(writer->Flush());
  EXPECT_EQ(Bells(doorbell[0]), 3);
  consumer->sleeping = 0;
  EXPECT_TRUE(writer->Flush());
  EXPECT_EQ(Bells(doorbell[0]), 0) << "no bell for a reader that is awake";
  std::uint32_t n = 0;
  EXPECT_EQ(ReadPublished(n), taken) << "every record the reader had not released is whole";
  munmap(consumer, fr::kPageBytes);
}

// The helper maps only a memory file that can no longer shrink under it
// (it seals one that allows it), of a size it accepts.
TEST(FrameRingAttachTest, TheHelperRefusesAFileThatCouldShrinkOrIsNoMemoryFile) {
  const std::size_t good = fr::FileBytes(fr::kMinRingBytes);
  const struct {
    const char* name;
    unsigned flags;
    std::size_t size;
    int seals;
    const char* error;  // null: attached
  } cases[] = {
      {"sealable", MFD_ALLOW_SEALING, good, 0, nullptr},
      {"sealed against shrinking", MFD_ALLOW_SEALING, good, F_SEAL_SHRINK | F_SEAL_SEAL, nullptr},
      {"not sealable", 0, good, 0, "the frame ring cannot be sealed against shrinking"},
      {"sealed, but may shrink", MFD_ALLOW_SEALING, good, F_SEAL_SEAL, "the frame ring cannot be sealed against shrinking"},
      {"too small", MFD_ALLOW_SEALING, fr::FileBytes(fr::kMinRingBytes / 2), 0, "the frame ring has no size the helper accepts"},
      {"not whole pages", MFD_ALLOW_SEALING, good + 100, 0, "the frame ring has no size the helper accepts"},
      {"empty", MFD_ALLOW_SEALING, 0, 0, "the frame ring has no size the helper accepts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = memfd_create("test-ring", MFD_CLOEXEC | c.flags);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(c.size)), 0);
    if (c.seals != 0) {
      ASSERT_EQ(fcntl(fd, F_ADD_SEALS, c.seals), 0);
    }
    std::string error;
    RingWriter writer(dup(fd), STDOUT_FILENO);
    EXPECT_EQ(writer.Attach(error), c.error == nullptr);
    EXPECT_EQ(error, c.error == nullptr ? "" : c.error);
    if (c.error == nullptr) {
      EXPECT_NE(ftruncate(fd, 0), 0) << "the reader cannot shrink it any more";
    }
    close(fd);
  }
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::string error;
  RingWriter writer(ends[0], ends[1]);
  EXPECT_FALSE(writer.Attach(error));
  EXPECT_EQ(error, "the frame ring is not a memory file");
  close(ends[0]);
  close(ends[1]);
}

// The reader maps the helper's side read-only and checks what it finds
// there: a page the helper did not fill in, a head outside the ring, a
// length beyond the snapshot length or a record across the ring's end
// make the ring bad for good, with the reason; nothing is read past it.
TEST(FrameRingReaderTest, TheReaderTrustsNothingTheHelperWrites) {
  constexpr std::size_t kRing = fr::kMinRingBytes;
  const fr::RecordHeader record = {1, 2, 60, 60};
  fr::RecordHeader tooLong = record;
  tooLong.capturedLength = 262145;
  const struct {
    const char* name;
    std::uint32_t magic;
    std::uint64_t head;
    std::size_t at;  // where the record header goes in the ring
    fr::RecordHeader header;
    const char* error;  // null: one record, then nothing
  } cases[] = {
      {"good", fr::kMagic, fr::RecordBytes(60), 0, record, nullptr},
      {"no page", 0, 0, 0, record, "quorvel-capture did not set up the frame ring"},
      {"head beyond the ring", fr::kMagic, kRing + 8, 0, record, "the frame ring's head lies outside the ring"},
      {"record longer than a capture", fr::kMagic, 4096, 0, tooLong,
       "a record of 262145 captured bytes exceeds the snapshot length of 262144"},
      {"record beyond the head", fr::kMagic, 16, 0, record, "a record of the frame ring crosses its end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameRingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Create(error, kRing)) << error;
    auto* helper = static_cast<unsigned char*>(
        mmap(nullptr, fr::kPageBytes + kRing, PROT_READ | PROT_WRITE, MAP_SHARED, reader.Fd(), 0));
    ASSERT_NE(helper, MAP_FAILED);
    auto* page = reinterpret_cast<fr::ProducerPage*>(helper);
    page->magic = c.magic;
    page->version = fr::kVersion;
    page->ringBytes = kRing;
    page->linkType = DLT_EN10MB;
    page->snapLength = 262144;
    page->head = c.head;
    std::memcpy(helper + fr::RingOffset() + c.at, &c.header, sizeof c.header);
    FrameRingReader::Record read;
    Next next = reader.ReadHeader();
    if (next != Next::kBad) next = reader.Read(read);
    if (c.error == nullptr) {
      EXPECT_EQ(next, Next::kRecord);
      EXPECT_EQ(read.capturedLength, 60u);
      EXPECT_EQ(reader.Read(read), Next::kNeedBytes);
    } else {
      EXPECT_EQ(next, Next::kBad);
      EXPECT_EQ(reader.Error(), c.error);
      EXPECT_EQ(reader.Read(read), Next::kBad) << "bad for good";
    }
    munmap(helper, fr::kPageBytes + kRing);
  }
}

}  // namespace
