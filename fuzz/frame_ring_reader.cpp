// The reader of the frame ring over whatever the helper's side may hold:
// the input gives the helper's page (magic, snapshot length) and its first
// head, the ring's first bytes, and a second head published after the
// reader released what it read. Whatever they are, every record handed out
// lies whole inside the ring and within the snapshot length, reading ends,
// and a ring that went bad says why and stays bad.
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "capture_helper/frame_ring_layout.h"
#include "fuzz_input.h"
#include "source/frame_ring_reader.h"

namespace {

namespace fr = frame_ring;
constexpr std::size_t kRing = fr::kMinRingBytes;

// Takes every published record, touching each of its bytes.
void TakeRecords(FrameRingReader& reader, std::uint32_t snapLength) {
  FrameRingReader::Record record;
  std::uint64_t sum = 0;
  FrameRingReader::Next next;
  while ((next = reader.Read(record)) == FrameRingReader::Next::kRecord) {
    fuzz::Check(record.capturedLength <= snapLength, "a record longer than the snapshot length");
    for (std::uint32_t i = 0; i < record.capturedLength; ++i) sum += record.data[i];
  }
  if (next == FrameRingReader::Next::kBad) {
    fuzz::Check(!reader.Error().empty(), "a bad ring without a reason");
    fuzz::Check(reader.Read(record) == FrameRingReader::Next::kBad, "a bad ring read on");
  }
  asm volatile("" : : "g"(sum));  // the bytes must really be read
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const bool goodMagic = (input.Byte() & 1) != 0;
  const std::uint32_t snapLength = input.Long();
  // Heads mostly near the bytes given, now and then anywhere.
  const std::uint32_t firstHead = input.Long();
  const std::uint32_t secondStep = input.Long();
  const std::vector<std::uint8_t> ring = input.Rest();

  FrameRingReader reader;
  std::string error;
  fuzz::Check(reader.Create(error, kRing), "no ring could be made");
  auto* helper = static_cast<unsigned char*>(
      mmap(nullptr, fr::kPageBytes + kRing, PROT_READ | PROT_WRITE, MAP_SHARED, reader.Fd(), 0));
  fuzz::Check(helper != MAP_FAILED, "the helper's side could not be mapped");
  auto* page = reinterpret_cast<fr::ProducerPage*>(helper);
  page->magic = goodMagic ? fr::kMagic : 0;
  page->version = fr::kVersion;
  page->ringBytes = kRing;
  page->snapLength = snapLength;
  page->head = firstHead % (ring.size() + 64);
  if (!ring.empty()) std::memcpy(helper + fr::RingOffset(), ring.data(), std::min(ring.size(), kRing));

  if (reader.ReadHeader() != FrameRingReader::Next::kBad) {
    TakeRecords(reader, snapLength);
    reader.Release();
    page->head += (secondStep & 0x80000000u) != 0 ? secondStep : secondStep % (ring.size() + 64);
    TakeRecords(reader, snapLength);
  }
  munmap(helper, fr::kPageBytes + kRing);
  return 0;
}
