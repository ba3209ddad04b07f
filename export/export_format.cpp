#include "export/export_format.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "packet/ip_address.h"
#include "platform/wall_clock.h"
#include "text/decimal_text.h"

namespace {

constexpr const char* kColumns[] = {"src", "sport", "dst", "dport", "proto", "bytes", "packets",
                                    "first_seen", "last_seen", "duration"};
constexpr const char* kOwnerColumns[] = {"pid", "process", "user"};

std::string AddressText(const IpAddress& address) {
  char text[IpAddress::kTextSize];
  return FormatIpAddress(address, text);
}

std::string Decimal(std::uint64_t value) {
  char text[24];
  return std::string(text, AppendDecimal(text, value));
}

// Seconds with milliseconds; a last packet before the first (a clock set
// back) is no negative duration.
std::string DurationText(const ConnectionRecord& record) {
  const std::int64_t ms = record.lastSeenMs > record.firstSeenMs ? record.lastSeenMs - record.firstSeenMs : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}


// The length of the valid UTF-8 sequence at the start of `text`, 0 when
// it starts with none (a stray byte, an overlong form, a surrogate).
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// The text with each byte that starts no valid UTF-8 sequence replaced by
// U+FFFD: a program's name is bytes, a file's reader wants UTF-8.
std::string ValidUtf8(std::string_view text) {
  std::string valid;
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    if (length == 0)
      valid += "\xEF\xBF\xBD";
    else
      valid += text.substr(0, length);
    text.remove_prefix(length == 0 ? 1 : length);
  }
  return valid;
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// The record's values in column order, each as CSV or JSON writes it:
// quoted: a text; empty: unknown.
struct Value {
  std::string text;
  bool quoted = false;
  bool known = true;
};

std::vector<Value> ValuesOf(ExportColumns columns, const ConnectionRecord& record) {
  const ConnectionEndpoints& e = record.endpoints;
  std::vector<Value> values = {
      {AddressText(e.source), true},
      {Decimal(ntohs(e.sourcePort))},
      {AddressText(e.destination), true},
      {Decimal(ntohs(e.destinationPort))},
      {Decimal(e.protocol)},
      {Decimal(record.bytes)},
      {Decimal(record.packets)},
      {platform::Iso8601Time(record.firstSeenMs), true},
      {platform::Iso8601Time(record.lastSeenMs), true},
      {DurationText(record)},
  };
  if (columns.owners) {
    const bool program = record.owner.pid != 0;
    values.push_back({program ? Decimal(static_cast<std::uint64_t>(record.owner.pid)) : "", false, program});
    values.push_back({program ? ValidUtf8(record.owner.program) : "", true, program});
    values.push_back({ValidUtf8(UserText(record.owner)), true, record.owner.uidKnown});
  }
  if (columns.reason) values.push_back({record.reason ? CloseReasonName(*record.reason) : "", true, record.reason.has_value()});
  return values;
}

std::vector<const char*> NamesOf(ExportColumns columns) {
  std::vector<const char*> names(std::begin(kColumns), std::end(kColumns));
  if (columns.owners) names.insert(names.end(), std::begin(kOwnerColumns), std::end(kOwnerColumns));
  if (columns.reason) names.push_back("reason");
  return names;
}

}  // namespace

std::optional<ExportFormat> ExportFormatNamed(std::string_view name) {
  if (name == "csv") return ExportFormat::kCsv;
  if (name == "jsonl") return ExportFormat::kJsonLines;
  return std::nullopt;
}

std::string ExportHeader(ExportFormat format, ExportColumns columns) {
  if (format != ExportFormat::kCsv) return {};
  std::string header;
  for (const char* name : NamesOf(columns)) {
    if (!header.empty()) header += ',';
    header += name;
  }
  return header + '\n';
}

void AppendExportLine(std::string& out, ExportFormat format, ExportColumns columns,
                      const ConnectionRecord& record) {
  const std::vector<Value> values = ValuesOf(columns, record);
  if (format == ExportFormat::kCsv) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i != 0) out += ',';
      AppendCsvField(out, values[i].text);
    }
    out += '\n';
    return;
  }
  const std::vector<const char*> names = NamesOf(columns);
  out += '{';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    AppendJsonString(out, names[i]);
    out += ':';
    if (!values[i].known)
      out += "null";
    else if (values[i].quoted)
      AppendJsonString(out, values[i].text);
    else
      out += values[i].text;
  }
  out += "}\n";
}
