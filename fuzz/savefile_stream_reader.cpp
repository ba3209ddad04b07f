// The reader of the capture helper's stream over any bytes: the first
// eight bytes of an input choose the sizes of the pieces the rest arrives
// in, cycling through them (a piece of 1 to 256 bytes each). However the
// stream is cut, the reader must give the same records, the same link type
// and the same end (bad with the same reason, or waiting for more) as when
// the stream arrives at once; no record is longer than the largest capture.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "source/savefile_stream_reader.h"

namespace {

constexpr std::size_t kPieceSizeBytes = 8;

struct Outcome {
  std::vector<std::vector<std::uint8_t>> records;  // each: its header fields, then its bytes
  bool headerRead = false;
  int linkType = -1;
  std::string error;

  bool operator==(const Outcome&) const = default;
};

// Takes every record that has arrived, as the capture thread does after
// each read of the pipe; false once the stream went bad.
bool TakeRecords(SavefileStreamReader& reader, Outcome& outcome) {
  SavefileStreamReader::Record record;
  SavefileStreamReader::Next next;
  while ((next = reader.Read(record)) == SavefileStreamReader::Next::kRecord) {
    fuzz::Check(record.capturedLength <= SavefileStreamReader::kMaxCaptureLength, "a record longer than any capture");
    const std::uint32_t fields[] = {record.seconds, record.microseconds, record.capturedLength, record.wireLength};
    std::vector<std::uint8_t> taken(reinterpret_cast<const std::uint8_t*>(fields),
                                    reinterpret_cast<const std::uint8_t*>(fields) + sizeof fields);
    taken.insert(taken.end(), record.data, record.data + record.capturedLength);
    outcome.records.push_back(std::move(taken));
  }
  return next != SavefileStreamReader::Next::kBad;
}

// `pieceSizes` empty: as much at a time as the reader has room for. The
// reader is restarted, not made anew: its buffer would cost far more to
// make than a whole input to read.
Outcome Feed(SavefileStreamReader& reader, const std::vector<std::uint8_t>& stream,
             const std::vector<std::uint8_t>& pieceSizes) {
  reader.Restart();
  Outcome outcome;
  std::size_t at = 0, piece = 0;
  while (at < stream.size()) {
    const std::span<std::uint8_t> space = reader.Space();
    fuzz::Check(!space.empty(), "no room for the next bytes");
    std::size_t count = std::min(space.size(), stream.size() - at);
    if (!pieceSizes.empty()) count = std::min<std::size_t>(count, pieceSizes[piece++ % pieceSizes.size()] + 1u);
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), count, space.begin());
    reader.Commit(count);
    at += count;
    if (!TakeRecords(reader, outcome)) break;
  }
  outcome.headerRead = reader.HeaderRead();
  outcome.linkType = reader.LinkType();
  outcome.error = reader.Error();
  fuzz::Check(reader.Bad() == !outcome.error.empty(), "a bad stream without a reason");
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::vector<std::uint8_t> pieceSizes = input.Bytes(kPieceSizeBytes);
  const std::vector<std::uint8_t> stream = input.Rest();
  static SavefileStreamReader inPieces, whole;
  fuzz::Check(Feed(inPieces, stream, pieceSizes) == Feed(whole, stream, {}),
              "pieces gave other records than the whole stream");
  return 0;
}
