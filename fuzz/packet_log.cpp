// The packet log: each piece of a record must fit the room its caller
// leaves (kMaxPieceLength), whatever the packet, its lengths and the clock
// say; and whole records in every layout go to a log that restarts often.
//
// Input: the layout (one byte), the clock (eight 32-bit fields), the offset
// a dump line reports (32 bits), then the IPv4 or IPv6 packet as captured.
#include <memory>
#include <vector>

#include "config/settings.h"
#include "fuzz_input.h"
#include "log/packet_log.h"
#include "log/packet_log_format.h"
#include "packet/packet_parser.h"
#include "platform/local_time.h"
#include "platform/user_message.h"
#include "table/traffic_list.h"

namespace {

using packet_log::kMaxPieceLength;

// Each piece goes into a buffer of exactly the room promised for it.
template <typename Append>
void ExpectPieceFits(Append append) {
  const auto room = std::make_unique<char[]>(kMaxPieceLength);
  const char* end = append(room.get());
  fuzz::Check(end >= room.get() && end <= room.get() + kMaxPieceLength, "piece longer than its room");
}

// The record header the log makes of the packet: as the parser reads it
// when it is an IP packet; any other bytes are read as IPv4's, to try the
// pieces with values no parser would let through.
packet_log::RecordHeader HeaderOf(const std::vector<std::uint8_t>& packet) {
  ParsedPacket parsed;
  if (ParseIpPacket(packet.data(), packet.size(), parsed))
    return packet_log::RecordHeaderOf(parsed, CTrafficList::HeaderLength(parsed.protocol, parsed.IsIpv6()));
  const std::uint8_t protocol = packet.size() > 9 ? packet[9] : 0;
  const unsigned totalLength = packet.size() > 3 ? packet[2] * 256u + packet[3] : 0;
  return packet_log::ReadRecordHeader(packet.data(), packet.size(), CTrafficList::HeaderLength(protocol), totalLength);
}

// As the log formats them, for a packet of at least one byte: the table
// never hands over less than a header.
void FormatPieces(const std::vector<std::uint8_t>& packet, const platform::LocalTime& time, std::uint32_t offset) {
  if (packet.empty()) return;
  const packet_log::RecordHeader header = HeaderOf(packet);
  ExpectPieceFits([&](char* out) { return packet_log::AppendTextHeader(out, time, header); });
  ExpectPieceFits([&](char* out) { return packet_log::AppendLineEnd(packet_log::AppendCsvFields(out, time, header)); });
  const std::size_t line = std::min(packet.size(), packet_log::kBytesPerLine);
  ExpectPieceFits([&](char* out) { return packet_log::AppendHexLine(out, packet.data(), line, offset); });
  ExpectPieceFits([&](char* out) { return packet_log::AppendHexTextLine(out, packet.data(), line, offset); });
  const std::size_t csv = std::min<std::size_t>(packet.size(), kMaxPieceLength / 4);
  ExpectPieceFits([&](char* out) { return packet_log::AppendCsvHexBytes(out, packet.data(), csv); });
}

// A log that is never shown to anyone: messages go nowhere.
class QuietSink : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind, const platform::UserMessage&) override {}
};

struct Logging {
  Logging() : settings("/nonexistent/quorvel-fuzz/settings.dat"), table(settings), packetLog(settings, table.TableLock()) {
    platform::SetUserMessageSink(&sink);
    std::snprintf(settings.logfile, sizeof settings.logfile, "%s", log.Path().c_str());
    settings.uselogfile = 1;
    // Small, so that the restart runs every few hundred records.
    settings.logSizeLimit = 64 * 1024;
    table.SetPacketLog(&packetLog);
    packetLog.OpenLog("a+");
  }

  fuzz::ScratchFile log{"packets.log"};
  QuietSink sink;
  CSettings settings;
  CTrafficList table;
  CPacketLog packetLog;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Logging logging;
  fuzz::Input input(data, size);
  const auto layout = static_cast<std::int8_t>(input.Byte());
  platform::LocalTime time;
  for (int* field : {&time.year, &time.month, &time.day, &time.dayOfWeek, &time.hour, &time.minute, &time.second,
                     &time.milliseconds})
    *field = static_cast<int>(input.Long());
  const std::uint32_t offset = input.Long();
  const std::vector<std::uint8_t> packet = input.Rest();

  FormatPieces(packet, time, offset);

  platform::SetTestLocalTime(time);
  logging.settings.logtype = layout;
  logging.table.AccountPacket(packet.data(), packet.size());
  fuzz::Check(logging.packetLog.IsOpen(), "the log closed itself");
  if (logging.table.EntryCount() > 100000) logging.table.RemoveAll();
  return 0;
}
