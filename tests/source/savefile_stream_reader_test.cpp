#include "source/savefile_stream_reader.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/pcap_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A capture-file stream built field by field, in either byte order.
class StreamBuilder {
 public:
  StreamBuilder(bool swapped, std::uint32_t magic = 0xA1B2C3D4, std::uint32_t linkType = 1,
                std::uint32_t snapLength = 262144, std::uint16_t major = 2)
      : m_swapped(swapped) {
    Put32(magic);
    Put16(major);
    Put16(4);
    Put32(0);
    Put32(0);
    Put32(snapLength);
    Put32(linkType);
  }
  StreamBuilder& Record(std::uint32_t seconds, std::uint32_t fraction, const Bytes& data,
                        std::uint32_t capturedLength = UINT32_MAX) {
    Put32(seconds);
    Put32(fraction);
    Put32(capturedLength == UINT32_MAX ? static_cast<std::uint32_t>(data.size()) : capturedLength);
    Put32(static_cast<std::uint32_t>(data.size()) + 4);
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
    return *this;
  }
  const Bytes& Stream() const { return m_bytes; }

 private:
  void Put16(std::uint16_t value) {
    if (m_swapped) value = __builtin_bswap16(value);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    m_bytes.insert(m_bytes.end(), p, p + 2);
  }
  void Put32(std::uint32_t value) {
    if (m_swapped) value = __builtin_bswap32(value);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    m_bytes.insert(m_bytes.end(), p, p + 4);
  }
  bool m_swapped;
  Bytes m_bytes;
};

struct ReadRecord {
  std::uint32_t seconds, microseconds, wireLength;
  Bytes data;
  bool operator==(const ReadRecord&) const = default;
};

struct Outcome {
  std::vector<ReadRecord> records;
  int linkType = -1;
  bool bad = false;
  std::string error;
};

// Feeds `stream` in pieces of `piece` bytes, reading every record each
// piece completes, as the capture thread does with the pipe.
Outcome ReadInPieces(SavefileStreamReader& reader, const Bytes& stream, std::size_t piece) {
  Outcome outcome;
  std::size_t fed = 0;
  for (;;) {
    SavefileStreamReader::Record record;
    SavefileStreamReader::Next next;
    while ((next = reader.Read(record)) == SavefileStreamReader::Next::kRecord)
      outcome.records.push_back({record.seconds, record.microseconds, record.wireLength,
                                 Bytes(record.data, record.data + record.capturedLength)});
    if (next == SavefileStreamReader::Next::kBad || fed == stream.size()) break;
    const std::span<std::uint8_t> space = reader.Space();
    EXPECT_FALSE(space.empty());
    const std::size_t count = std::min({piece, space.size(), stream.size() - fed});
    std::memcpy(space.data(), stream.data() + fed, count);
    reader.Commit(count);
    fed += count;
  }
  outcome.linkType = reader.LinkType();
  outcome.bad = reader.Bad();
  outcome.error = reader.Error();
  return outcome;
}

Outcome ReadInPieces(const Bytes& stream, std::size_t piece) {
  SavefileStreamReader reader(0);
  return ReadInPieces(reader, stream, piece);
}

const Bytes kFrameA(60, 0xAA);
const Bytes kFrameB = {0x45, 0x00, 0x00, 0x14};

// The same records whatever the byte order, the time unit and the pieces
// the stream arrives in; the link type as the library numbers it.
TEST(SavefileStreamReaderTest, ReadsGoodStreamsInPiecesOfAnySize) {
  const struct {
    const char* name;
    bool swapped;
    std::uint32_t magic, linkType, fraction;
    int expectedLinkType;
    std::uint32_t expectedMicroseconds;
  } cases[] = {
      {"microseconds, our byte order", false, 0xA1B2C3D4, 1, 123456, DLT_EN10MB, 123456},
      {"microseconds, swapped", true, 0xA1B2C3D4, 1, 123456, DLT_EN10MB, 123456},
      {"nanoseconds", false, 0xA1B23C4D, 113, 123456789, DLT_LINUX_SLL, 123456},
      {"nanoseconds, swapped", true, 0xA1B23C4D, 276, 999, DLT_LINUX_SLL2, 0},
      {"raw IP is numbered differently in files", false, 0xA1B2C3D4, 101, 0, DLT_RAW, 0},
      {"frame check sequence bits", false, 0xA1B2C3D4, 0x14000001, 0, DLT_EN10MB, 0},
  };
  for (const auto& c : cases) {
    StreamBuilder stream(c.swapped, c.magic, c.linkType);
    stream.Record(7, c.fraction, kFrameA).Record(8, c.fraction, {}).Record(9, c.fraction, kFrameB);
    const std::vector<ReadRecord> expected = {{7, c.expectedMicroseconds, 64, kFrameA},
                                              {8, c.expectedMicroseconds, 4, {}},
                                              {9, c.expectedMicroseconds, 8, kFrameB}};
    for (const std::size_t piece : {1, 3, 16, 17, 25, 100000}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome outcome = ReadInPieces(stream.Stream(), piece);
      EXPECT_FALSE(outcome.bad) << outcome.error;
      EXPECT_EQ(outcome.linkType, c.expectedLinkType);
      EXPECT_EQ(outcome.records, expected);
    }
  }
}

// A bad header reads nothing; a bad record ends the stream after the good
// ones before it; a record that has not fully arrived is not bad.
TEST(SavefileStreamReaderTest, BadOrCutStreams) {
  Bytes cut = StreamBuilder(false).Record(1, 0, kFrameA).Record(2, 0, kFrameB).Stream();
  cut.pop_back();
  Bytes headerOnly = StreamBuilder(false).Stream();
  headerOnly.pop_back();
  const struct {
    const char* name;
    Bytes stream;
    std::size_t records;
    bool bad;
    const char* error;
  } cases[] = {
      {"not a capture file", StreamBuilder(false, 0x0A0D0D0A).Record(1, 0, kFrameA).Stream(), 0, true,
       "the capture stream does not start with a capture-file header"},
      {"unknown version", StreamBuilder(false, 0xA1B2C3D4, 1, 262144, 1).Stream(), 0, true,
       "unsupported capture-file version 1"},
      {"record longer than the snapshot length", StreamBuilder(false, 0xA1B2C3D4, 1, 60).Record(1, 0, kFrameA)
                                                    .Record(2, 0, Bytes(61, 1)).Stream(),
       1, true, "a record of 61 captured bytes exceeds the snapshot length of 60"},
      {"captured length past any capture", StreamBuilder(false).Record(1, 0, kFrameB, 0xFFFFFFF0).Stream(), 0,
       true, "a record of 4294967280 captured bytes exceeds the snapshot length of 262144"},
      {"record cut short", cut, 1, false, ""},
      {"header cut short", headerOnly, 0, false, ""},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {1, 4096}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome outcome = ReadInPieces(c.stream, piece);
      EXPECT_EQ(outcome.records.size(), c.records);
      EXPECT_EQ(outcome.bad, c.bad);
      EXPECT_EQ(outcome.error, c.error);
    }
  }
}

// The header can be read on its own (the link type is wanted before any
// frame) without taking a record that arrived with it.
TEST(SavefileStreamReaderTest, HeaderAloneLeavesTheRecordsThatCameWithIt) {
  const Bytes stream = StreamBuilder(false, 0xA1B2C3D4, 113).Record(1, 2, kFrameB).Stream();
  SavefileStreamReader reader(0);
  EXPECT_EQ(reader.ReadHeader(), SavefileStreamReader::Next::kNeedBytes);
  EXPECT_FALSE(reader.HeaderRead());
  const std::span<std::uint8_t> space = reader.Space();
  std::memcpy(space.data(), stream.data(), stream.size());
  reader.Commit(stream.size());
  reader.ReadHeader();
  ASSERT_TRUE(reader.HeaderRead());
  EXPECT_EQ(reader.LinkType(), DLT_LINUX_SLL);
  SavefileStreamReader::Record record;
  ASSERT_EQ(reader.Read(record), SavefileStreamReader::Next::kRecord);
  EXPECT_EQ(Bytes(record.data, record.data + record.capturedLength), kFrameB);
}

// Records of the largest size, arriving in odd pieces, pass through the
// buffer whole; so does a file the capture library wrote itself.
TEST(SavefileStreamReaderTest, LargestRecordsAndTheLibrarysOwnFile) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quorvel-stream-reader-" + std::to_string(getpid()) + ".pcap");
  std::vector<ReadRecord> expected;
  {
    PcapWriter writer(path.string(), DLT_EN10MB);
    ASSERT_TRUE(writer.IsOpen());
    for (std::uint32_t n = 0; n < 12; ++n) {
      const Bytes frame(n % 3 == 0 ? SavefileStreamReader::kMaxCaptureLength : 14 + n, static_cast<std::uint8_t>(n));
      writer.Write(frame);
      expected.push_back({n / 1000, n % 1000 * 1000, static_cast<std::uint32_t>(frame.size()), frame});
    }
  }
  std::ifstream file(path, std::ios::binary);
  const Bytes stream((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  for (const std::size_t piece : {4093, 65536, 1 << 20}) {
    SCOPED_TRACE(piece);
    const Outcome outcome = ReadInPieces(stream, piece);
    EXPECT_FALSE(outcome.bad) << outcome.error;
    EXPECT_EQ(outcome.linkType, DLT_EN10MB);
    EXPECT_EQ(outcome.records, expected);
  }
}

// Restarted, a reader reads the next stream as a new reader would,
// whatever the last one left behind.
TEST(SavefileStreamReaderTest, RestartedReaderReadsTheNextStreamAsANewOne) {
  const Bytes next = StreamBuilder(false).Record(7, 5, kFrameA).Record(8, 6, Bytes(100, 1)).Stream();
  Bytes halfArrived = StreamBuilder(true, 0xA1B23C4D, 113).Record(1, 0, kFrameA).Stream();
  halfArrived.pop_back();
  const struct {
    const char* name;
    Bytes stream;
  } before[] = {
      {"a bad end", StreamBuilder(false, 0x0A0D0D0A).Stream()},
      {"half a record, swapped, in nanoseconds", halfArrived},
      {"a snapshot length shorter than the next stream's records", StreamBuilder(false, 0xA1B2C3D4, 1, 60).Stream()},
  };
  const Outcome fresh = ReadInPieces(next, 7);
  ASSERT_EQ(fresh.records.size(), 2u);
  for (const auto& c : before) {
    SCOPED_TRACE(c.name);
    SavefileStreamReader reader(0);
    ReadInPieces(reader, c.stream, 7);
    reader.Restart();
    const Outcome outcome = ReadInPieces(reader, next, 7);
    EXPECT_EQ(outcome.records, fresh.records);
    EXPECT_EQ(outcome.linkType, DLT_EN10MB);
    EXPECT_FALSE(outcome.bad) << outcome.error;
  }
}

}  // namespace
