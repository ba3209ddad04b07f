#include "source/savefile_stream_reader.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kMicrosecondMagic = 0xA1B2C3D4;
constexpr std::uint32_t kNanosecondMagic = 0xA1B23C4D;
constexpr std::uint32_t kSupportedMajorVersion = 2;
// The high bits of the link-type field carry frame check sequence details.
constexpr std::uint32_t kLinkTypeMask = 0x03FFFFFF;
// The one link type Linux hands out whose number in a file differs from
// the library's own.
constexpr std::uint32_t kFileLinkTypeRaw = 101;

std::uint32_t Swapped(std::uint32_t value) { return __builtin_bswap32(value); }

int LibraryLinkType(std::uint32_t fileLinkType) {
  return fileLinkType == kFileLinkTypeRaw ? DLT_RAW : static_cast<int>(fileLinkType);
}

}  // namespace

SavefileStreamReader::SavefileStreamReader(std::size_t bufferBytes)
    : m_bufferBytes(std::max(bufferBytes, 2 * (kRecordHeaderBytes + kMaxCaptureLength))) {}

std::span<std::uint8_t> SavefileStreamReader::Space() {
  if (m_buffer == nullptr) m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(m_bufferBytes);
  if (m_begin == m_end) {
    m_begin = m_end = 0;
  } else if (m_bufferBytes - m_end < kRecordHeaderBytes + kMaxCaptureLength) {
    // Only the start of one record is left here as a rule: moving it is
    // cheap, and the space behind it holds the largest record.
    std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  return {m_buffer.get() + m_end, m_bufferBytes - m_end};
}

void SavefileStreamReader::Restart() {
  SavefileStreamReader fresh(m_bufferBytes);
  fresh.m_buffer = std::move(m_buffer);
  *this = std::move(fresh);
}

void SavefileStreamReader::Commit(std::size_t bytes) {
  if (m_buffer != nullptr) m_end += std::min(bytes, m_bufferBytes - m_end);
}

std::uint32_t SavefileStreamReader::Field(std::size_t offset) const {
  std::uint32_t value = 0;
  std::memcpy(&value, m_buffer.get() + m_begin + offset, sizeof value);
  return m_swapped ? Swapped(value) : value;
}

SavefileStreamReader::Next SavefileStreamReader::Fail(std::string reason) {
  m_error = std::move(reason);
  return Next::kBad;
}

SavefileStreamReader::Next SavefileStreamReader::ReadGlobalHeader() {
  if (m_end - m_begin < kGlobalHeaderBytes) return Next::kNeedBytes;
  const std::uint32_t magic = Field(0);
  m_swapped = magic == Swapped(kMicrosecondMagic) || magic == Swapped(kNanosecondMagic);
  m_nanoseconds = magic == kNanosecondMagic || magic == Swapped(kNanosecondMagic);
  if (!m_swapped && magic != kMicrosecondMagic && magic != kNanosecondMagic)
    return Fail("the capture stream does not start with a capture-file header");
  const std::uint32_t version = Field(4);
  const std::uint32_t major = m_swapped ? version >> 16 : version & 0xFFFF;
  if (major != kSupportedMajorVersion) return Fail("unsupported capture-file version " + std::to_string(major));
  const std::uint32_t snapLength = Field(16);
  if (snapLength != 0 && snapLength < kMaxCaptureLength) m_maxCaptureLength = snapLength;
  m_linkType = LibraryLinkType(Field(20) & kLinkTypeMask);
  m_begin += kGlobalHeaderBytes;
  m_headerRead = true;
  return Next::kNeedBytes;
}

SavefileStreamReader::Next SavefileStreamReader::ReadHeader() {
  if (Bad()) return Next::kBad;
  return m_headerRead ? Next::kNeedBytes : ReadGlobalHeader();
}

SavefileStreamReader::Next SavefileStreamReader::Read(Record& record) {
  if (ReadHeader() == Next::kBad) return Next::kBad;
  if (!m_headerRead || m_end - m_begin < kRecordHeaderBytes) return Next::kNeedBytes;
  const std::uint32_t capturedLength = Field(8);
  if (capturedLength > m_maxCaptureLength)
    return Fail("a record of " + std::to_string(capturedLength) + " captured bytes exceeds the snapshot length of " +
                std::to_string(m_maxCaptureLength));
  if (m_end - m_begin < kRecordHeaderBytes + capturedLength) return Next::kNeedBytes;
  record.seconds = Field(0);
  record.microseconds = m_nanoseconds ? Field(4) / 1000 : Field(4);
  record.capturedLength = capturedLength;
  record.wireLength = Field(12);
  record.data = m_buffer.get() + m_begin + kRecordHeaderBytes;
  m_begin += kRecordHeaderBytes + capturedLength;
  return Next::kRecord;
}
