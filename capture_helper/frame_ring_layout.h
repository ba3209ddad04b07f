#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The frames' hand-off from quorvel-capture to the capture thread through
// shared memory: a ring in a memory file that the reader makes and hands to
// the helper as descriptor 4 (kRingFd), laid out as
//
//   [producer page] [ring: records] [consumer page]
//
// The helper alone writes the producer page and the ring; the reader maps
// them read-only. The reader alone writes the consumer page; the helper
// maps it read-only and trusts nothing in it: a position that makes no
// sense is ignored, and a reader that does not move on costs the helper
// only frames, dropped and counted.
//
// Positions count bytes of the stream since its start; a position's place
// in the ring is the position modulo the ring's size. A record is a header
// and the captured bytes, padded to kRecordAlign, never cut by the ring's
// end: where the next record does not fit, the rest of the ring is
// skipped, marked by a header whose captured length is kWrapMark when there
// is room for one.
//
// The helper writes records, then publishes its head; the reader reads up
// to the head, then publishes its tail. A reader that is about to sleep
// says so (sleeping) and looks at the head once more; the helper, after
// publishing a head, rings the doorbell (a byte on its standard output)
// only while the reader sleeps. The end of the helper's output is the end
// of the stream: what the ring holds by then is all there is.
namespace frame_ring {

inline constexpr int kRingFd = 4;
inline constexpr std::size_t kPageBytes = 4096;
inline constexpr std::uint32_t kMagic = 0x51524E47;
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kMinRingBytes = 1 << 20;
inline constexpr std::size_t kMaxRingBytes = 256 << 20;
inline constexpr std::size_t kRecordAlign = 8;
inline constexpr std::uint32_t kWrapMark = 0xFFFFFFFF;

struct ProducerPage {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint64_t ringBytes;
  std::int32_t linkType;  // the capture library's DLT_ value
  std::uint32_t snapLength;
  alignas(64) std::uint64_t head;
};

struct ConsumerPage {
  alignas(64) std::uint64_t tail;
  alignas(64) std::uint32_t sleeping;
};

struct RecordHeader {
  std::uint32_t seconds;
  std::uint32_t microseconds;
  std::uint32_t capturedLength;  // or kWrapMark
  std::uint32_t wireLength;
};

static_assert(sizeof(ProducerPage) <= kPageBytes && sizeof(ConsumerPage) <= kPageBytes);

// A field of either page, as both processes see it.
template <typename T>
std::atomic_ref<T> Shared(T& field) {
  return std::atomic_ref<T>(field);
}

inline constexpr std::size_t RecordBytes(std::uint32_t capturedLength) {
  return (sizeof(RecordHeader) + capturedLength + kRecordAlign - 1) & ~(kRecordAlign - 1);
}

inline constexpr std::size_t FileBytes(std::size_t ringBytes) { return ringBytes + 2 * kPageBytes; }
inline constexpr std::size_t RingOffset() { return kPageBytes; }
inline constexpr std::size_t ConsumerOffset(std::size_t ringBytes) { return kPageBytes + ringBytes; }

// A ring of a whole number of pages within the bounds.
inline constexpr bool ValidRingBytes(std::size_t ringBytes) {
  return ringBytes >= kMinRingBytes && ringBytes <= kMaxRingBytes && ringBytes % kPageBytes == 0;
}

}  // namespace frame_ring
