#include "bench/replay_output.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "export/connection_record.h"
#include "packet/ip_address.h"
#include "platform/tick_count.h"
#include "platform/wall_clock.h"
#include "table/traffic_list.h"
#include "text/decimal_text.h"

namespace {

// Dotted for IPv4, compressed for IPv6.
char* AppendAddress(char* out, const IpAddress& address) {
  char text[IpAddress::kTextSize];
  return AppendText(out, FormatIpAddress(address, text));
}

// A CSV field as it is, or quoted when it holds a comma, a quote or a line
// end: a program may give itself any name.
char* AppendField(char* out, const char* text) {
  if (std::strpbrk(text, ",\"\r\n") == nullptr) return AppendText(out, text);
  *out++ = '"';
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '"') *out++ = '"';
    *out++ = *c;
  }
  *out++ = '"';
  return out;
}

char* AppendOwner(char* out, const ConnectionOwner& owner) {
  *out++ = ',';
  if (owner.pid != 0) out = AppendDecimal(out, static_cast<std::uint64_t>(owner.pid));
  *out++ = ',';
  if (owner.pid != 0) out = AppendField(out, owner.program);
  *out++ = ',';
  return AppendField(out, UserText(owner));
}

// Lines are built by hand and written in large pieces: at a million
// connections, one printf per line would take longer than the replay.
// `owners`: the owners' columns too.
void PrintReplayCsv(CTrafficList& table, const OwnersDisplay* owners) {
  std::fputs(owners != nullptr ? "src,sport,dst,dport,proto,bytes,packets,pid,process,user\n"
                               : "src,sport,dst,dport,proto,bytes,packets\n",
             stdout);
  // Two addresses, two ports, the protocol, two counters, six commas, the
  // end; a process id, two quoted names and three commas.
  constexpr std::size_t kLongestLine =
      2 * IpAddress::kTextSize + 2 * 5 + 3 + 2 * 20 + 7 + 10 + 2 * (2 * ConnectionOwner::kNameSize + 2) + 3;
  std::vector<char> buffer(std::size_t{1} << 16);
  char* out = buffer.data();
  for (std::size_t i = 0; i < table.EntryCount(); ++i) {
    const TrafficEntry& entry = table.Entry(i);
    if (out + kLongestLine > buffer.data() + buffer.size()) {
      std::fwrite(buffer.data(), 1, static_cast<std::size_t>(out - buffer.data()), stdout);
      out = buffer.data();
    }
    const ConnectionEndpoints endpoints = table.EndpointsOf(entry.key);
    const std::uint64_t numbers[] = {entry.key.protocol, entry.bytes, entry.packets};
    out = AppendAddress(out, endpoints.source);
    *out++ = ',';
    out = AppendDecimal(out, ntohs(endpoints.sourcePort));
    *out++ = ',';
    out = AppendAddress(out, endpoints.destination);
    *out++ = ',';
    out = AppendDecimal(out, ntohs(endpoints.destinationPort));
    for (const std::uint64_t number : numbers) {
      *out++ = ',';
      out = AppendDecimal(out, number);
    }
    if (owners != nullptr) out = AppendOwner(out, owners->OwnerOf(entry.row));
    *out++ = '\n';
  }
  std::fwrite(buffer.data(), 1, static_cast<std::size_t>(out - buffer.data()), stdout);
}


// As an export file: the owners from the rows, the times as the clock says
// now.
void PrintExport(CTrafficList& table, const OwnersDisplay& display, ExportFormat format) {
  const ExportColumns columns{display.KeepsOwners(), false};
  const std::uint32_t nowTick = platform::TickCount();
  const std::int64_t nowMs = platform::WallClockMs();
  std::string text = ExportHeader(format, columns);
  for (std::size_t i = 0; i < table.EntryCount(); ++i) {
    const TrafficEntry& entry = table.Entry(i);
    ConnectionRecord record = RecordOfEntry(table, entry, nowTick, nowMs);
    record.owner = display.OwnerOf(entry.row);
    AppendExportLine(text, format, columns, record);
    if (text.size() >= std::size_t{1} << 16) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

void PrintConnections(CTrafficList& table, const OwnersDisplay& display, std::optional<ExportFormat> format) {
  std::lock_guard lock(table.TableLock());
  if (format)
    PrintExport(table, display, *format);
  else
    PrintReplayCsv(table, display.KeepsOwners() ? &display : nullptr);
}
