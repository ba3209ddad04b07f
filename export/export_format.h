#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "export/connection_record.h"

// The two ways connections leave Quorvel as text: CSV, one line per
// connection under a header line, and JSON Lines, one object per line
// whose keys are the CSV's column names.
enum class ExportFormat { kCsv, kJsonLines };

// "csv" or "jsonl"; nullopt for any other word.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);

// Which of the optional columns a file has: the owner's three (pid,
// process, user) and the reason a connection left.
struct ExportColumns {
  bool owners = false;
  bool reason = false;
};

// What a file starts with: the CSV's header line; nothing for JSON Lines.
std::string ExportHeader(ExportFormat format, ExportColumns columns);

// Appends the connection's line, its end included. Numbers are written
// whole and unformatted, times in ISO 8601, the duration in seconds with
// milliseconds; unknown owners are empty (CSV) or null (JSON). Both are valid UTF-8:
// a byte of a name that starts no UTF-8 sequence becomes U+FFFD.
void AppendExportLine(std::string& out, ExportFormat format, ExportColumns columns,
                      const ConnectionRecord& record);
