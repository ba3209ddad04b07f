#include "log/packet_log.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

#include "config/settings.h"
#include "log/packet_log_format.h"
#include "packet/parsed_packet.h"
#include "platform/local_time.h"
#include "platform/user_message.h"

namespace {

using packet_log::kBytesPerLine;
using packet_log::kMaxPieceLength;

enum class Body { kNone, kHexText, kRaw, kHex, kCsvHex };

struct Layout {
  bool csv;
  Body body;
  bool wholePacket;  // else the payload only
};

// Indexed by `logtype`.
constexpr Layout kLayouts[] = {
    {false, Body::kHexText, true}, {false, Body::kRaw, true},  {false, Body::kHex, true},
    {false, Body::kHexText, false}, {false, Body::kRaw, false}, {false, Body::kHex, false},
    {false, Body::kNone, false},   {true, Body::kNone, false},  {true, Body::kCsvHex, false},
};
constexpr int kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];

const Layout& SelectLayout(int logtype) {
  return kLayouts[logtype >= 1 && logtype < kLayoutCount ? logtype : 0];
}

// Records are formatted into a buffer of our own and handed to the writer
// a buffer at a time: one copy per record or per few hundred lines, rather
// than one per line.
class RecordWriter {
 public:
  static constexpr std::size_t kCapacity = 16 * 1024;

  RecordWriter(PacketLogWriter& writer, char* buffer) : m_writer(writer), m_buffer(buffer) {}
  ~RecordWriter() { Flush(); }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Where the next piece goes; it may take up to kMaxPieceLength bytes.
  char* Room() {
    if (kCapacity - m_used < kMaxPieceLength) Flush();
    return m_buffer + m_used;
  }
  void Advance(const char* end) { m_used = static_cast<std::size_t>(end - m_buffer); }

  // Raw bytes go straight from the packet to the writer.
  void WriteRaw(const std::uint8_t* bytes, std::size_t count) {
    Flush();
    m_writer.Append(bytes, count);
  }

 private:
  void Flush() {
    if (m_used != 0) m_writer.Append(m_buffer, m_used);
    m_used = 0;
  }

  PacketLogWriter& m_writer;
  char* m_buffer;
  std::size_t m_used = 0;
};

template <auto AppendLine>
void DumpLines(RecordWriter& out, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t offset = 0; offset < count; offset += kBytesPerLine) {
    const std::size_t lineCount = std::min(kBytesPerLine, count - offset);
    out.Advance(AppendLine(out.Room(), bytes + offset, lineCount, static_cast<std::uint32_t>(offset)));
  }
}

void DumpCsvHex(RecordWriter& out, const std::uint8_t* bytes, std::size_t count) {
  constexpr std::size_t kBytesPerPiece = kMaxPieceLength / 4;
  for (std::size_t done = 0; done < count; done += kBytesPerPiece) {
    const std::size_t pieceCount = std::min(kBytesPerPiece, count - done);
    out.Advance(packet_log::AppendCsvHexBytes(out.Room(), bytes + done, pieceCount));
  }
}

void WriteBody(RecordWriter& out, Body body, const std::uint8_t* bytes, std::size_t count) {
  switch (body) {
    case Body::kNone: break;
    case Body::kHexText: DumpLines<packet_log::AppendHexTextLine>(out, bytes, count); break;
    case Body::kRaw: out.WriteRaw(bytes, count); break;
    case Body::kHex: DumpLines<packet_log::AppendHexLine>(out, bytes, count); break;
    case Body::kCsvHex: DumpCsvHex(out, bytes, count); break;
  }
}

}  // namespace

CPacketLog::CPacketLog(CSettings& settings, std::recursive_mutex& tableLock)
    : m_settings(settings), m_tableLock(tableLock), m_recordBuffer(std::make_unique<char[]>(RecordWriter::kCapacity)) {}

CPacketLog::~CPacketLog() { CloseLog(); }

bool CPacketLog::Begin(std::unique_ptr<PacketLogFile> file) {
  try {
    m_writer = std::make_unique<PacketLogWriter>(std::move(file), m_settings.logSizeLimit, m_lost, m_lastWriterEnd);
  } catch (const std::system_error&) {
    return false;
  }
  m_isOpen.store(true, std::memory_order_release);
  return true;
}

std::unique_ptr<PacketLogWriter> CPacketLog::TakeWriter() {
  m_isOpen.store(false, std::memory_order_release);
  if (m_writer != nullptr) m_lastWriterEnd = m_writer->End();
  return std::move(m_writer);
}

// Outside the table lock: the close waits for the disk, if only a moment.
void CPacketLog::Finish(std::unique_ptr<PacketLogWriter> writer) {
  if (writer != nullptr) writer->Close();
}

// The file is opened outside the table lock: an open may wait for a disk
// too.
void CPacketLog::OpenLog(const char* mode) {
  if (m_settings.uselogfile == 0) return;
  CloseLog();  // at most one log is open
  m_lost->store(0, std::memory_order_relaxed);
  std::unique_ptr<PacketLogFile> file = PacketLogFile::Open(m_settings.logfile, mode);
  {
    std::lock_guard lock(m_tableLock);
    if (file != nullptr && Begin(std::move(file))) return;
    // Switched off first, so that nothing tries (and reports) again before
    // the user turns logging back on.
    m_settings.uselogfile = 0;
  }
  ReportOpenFailure();
}

void CPacketLog::CloseLog() {
  std::unique_lock lock(m_tableLock);
  std::unique_ptr<PacketLogWriter> writer = TakeWriter();
  lock.unlock();
  Finish(std::move(writer));
}

bool CPacketLog::IsOpen() const { return m_isOpen.load(std::memory_order_acquire); }

void CPacketLog::ReportOpenFailure() const {
  platform::ShowUserMessage(
      platform::MessageKind::kWarning,
      {QUORVEL_TRANSLATE_NOOP("Core",
                              "无法打开日志文件 \"%1\" !\r\n日志记录功能将会失败.\r\n您可以在设置窗口重新启用日志功能."),
       {std::string(m_settings.logfile, strnlen(m_settings.logfile, sizeof m_settings.logfile))}});
}

void CPacketLog::WriteLogRecord(const ParsedPacket& packet, unsigned assumedHeaderLength) {
  std::lock_guard lock(m_tableLock);
  if (m_writer == nullptr) return;
  m_writer->SetSizeLimit(m_settings.logSizeLimit);
  m_writer->BeginRecord();
  WriteRecord(packet, assumedHeaderLength);
  m_writer->EndRecord();  // counts the record as lost when it does not fit
}

// The dumps stop at the captured bytes; the header and the CSV line still
// give the packet's own total and payload lengths.
void CPacketLog::WriteRecord(const ParsedPacket& packet, unsigned assumedHeaderLength) {
  const Layout& layout = SelectLayout(m_settings.logtype);
  const packet_log::RecordHeader header = packet_log::RecordHeaderOf(packet, assumedHeaderLength);
  const platform::LocalTime time = platform::GetLocalTime();

  const std::uint8_t* ip = packet.ip;
  const std::size_t end = std::min<std::size_t>(packet.capturedLength, header.totalLength);
  const std::size_t begin = layout.wholePacket ? 0 : std::min<std::size_t>(header.payloadOffset, end);

  RecordWriter out(*m_writer, m_recordBuffer.get());
  if (!layout.csv) {
    out.Advance(packet_log::AppendTextHeader(out.Room(), time, header));
    WriteBody(out, layout.body, ip + begin, end - begin);
    return;
  }
  char* line = packet_log::AppendCsvFields(out.Room(), time, header);
  if (layout.body == Body::kCsvHex) *line++ = ';';
  out.Advance(line);
  WriteBody(out, layout.body, ip + begin, end - begin);
  out.Advance(packet_log::AppendLineEnd(out.Room()));
}

int CPacketLog::ReplaceLog(const char* path, bool capturing) {
  if (std::strlen(path) >= sizeof m_settings.logfile) return 1;
  std::unique_ptr<PacketLogFile> file = PacketLogFile::Open(path, "a+");
  if (file == nullptr) return 1;
  std::lock_guard lock(m_tableLock);
  std::strcpy(m_settings.logfile, path);
  if (!capturing) return 0;  // only a test: the file closes once the lock is released
  m_settings.uselogfile = 1;
  // The records counted before this go to the previous file, the later
  // ones here; the writer closes the previous one when it gets there.
  if (m_writer != nullptr) {
    m_writer->SwitchTo(std::move(file));
    return 0;
  }
  if (Begin(std::move(file))) return 0;
  m_settings.uselogfile = 0;
  return 1;
}
