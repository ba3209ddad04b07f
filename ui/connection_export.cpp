#include "ui/connection_export.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/tick_count.h"
#include "platform/wall_clock.h"
#include "platform/whole_file.h"
#include "table/connection_history.h"
#include "table/traffic_list.h"

namespace {

struct EndpointsHash {
  std::size_t operator()(const ConnectionEndpoints& e) const {
    std::size_t hash = e.protocol;
    for (const IpAddress* address : {&e.source, &e.destination})
      for (const std::uint8_t byte : address->bytes) hash = hash * 131 + byte;
    return hash * 131 + (static_cast<std::size_t>(e.sourcePort) << 16 | e.destinationPort);
  }
};

std::string FileText(ExportFormat format, ExportColumns columns, const std::vector<ConnectionRecord>& records) {
  std::string text = ExportHeader(format, columns);
  for (const ConnectionRecord& record : records) AppendExportLine(text, format, columns, record);
  return text;
}

}  // namespace

std::vector<ConnectionRecord> ListRecords(CTrafficList& table, const std::vector<ConnectionEndpoints>* only) {
  std::unordered_set<ConnectionEndpoints, EndpointsHash> wanted;
  if (only != nullptr) wanted.insert(only->begin(), only->end());
  std::vector<ConnectionRecord> records;
  std::lock_guard lock(table.TableLock());
  const std::uint32_t nowTick = platform::TickCount();
  const std::int64_t nowMs = platform::WallClockMs();
  records.reserve(only != nullptr ? wanted.size() : table.EntryCount());
  for (std::size_t i = 0; i < table.EntryCount(); ++i) {
    const TrafficEntry& entry = table.Entry(i);
    if (only != nullptr && !wanted.contains(table.EndpointsOf(entry.key))) continue;
    records.push_back(RecordOfEntry(table, entry, nowTick, nowMs));
  }
  return records;
}

ConnectionRecord HistoryRecord(const CConnectionHistory& history, const HistoryEntry& entry) {
  ConnectionRecord record;
  record.endpoints = entry.endpoints;
  record.bytes = entry.bytes;
  record.packets = entry.packets;
  record.firstSeenMs = entry.FirstSeenMs();
  record.lastSeenMs = entry.lastSeenMs;
  record.owner = history.OwnerOf(entry);
  record.reason = entry.reason;
  return record;
}

ExportColumns ColumnsFor(const std::vector<ConnectionRecord>& records, bool history) {
  ExportColumns columns;
  columns.reason = history;
  for (const ConnectionRecord& record : records) columns.owners = columns.owners || record.owner.Known();
  return columns;
}

CConnectionExport::CConnectionExport(QObject* parent) : QObject(parent) {}

CConnectionExport::~CConnectionExport() {
  if (m_writer.joinable()) m_writer.join();
}

bool CConnectionExport::Write(const QString& path, ExportFormat format, ExportColumns columns,
                              std::vector<ConnectionRecord> records) {
  if (m_busy) return false;
  if (m_writer.joinable()) m_writer.join();  // it has finished: it is no longer busy
  m_busy = true;
  m_writer = std::thread([this, path, format, columns, records = std::move(records)] {
    const int count = static_cast<int>(records.size());
    errno = 0;
    const bool ok = platform::RewriteFile(path.toStdString(), [&](const std::string&) {
      return FileText(format, columns, records);
    });
    const QString reason = ok || errno == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    // Queued to the window's thread, which this object lives on.
    QMetaObject::invokeMethod(this, [this, path, count, ok, reason] {
      m_busy = false;
      emit written(path, count, ok, reason);
    }, Qt::QueuedConnection);
  });
  return true;
}
