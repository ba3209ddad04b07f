#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <thread>
#include <vector>

#include "export/connection_record.h"
#include "export/export_format.h"

class CConnectionHistory;
class CTrafficList;
struct HistoryEntry;

// The connections of the list as an export file holds them, taken under
// the table's lock with their exact figures; only those with the given
// endpoints when `only` is set (the rows a user selected).
std::vector<ConnectionRecord> ListRecords(CTrafficList& table, const std::vector<ConnectionEndpoints>* only = nullptr);
ConnectionRecord HistoryRecord(const CConnectionHistory& history, const HistoryEntry& entry);
// The owner's columns when any connection has an owner; the reason's for
// the history.
ExportColumns ColumnsFor(const std::vector<ConnectionRecord>& records, bool history);

// Writes files of connections on a thread of its own, so that a hundred
// thousand lines and a slow disk never hold the window up; one file at a
// time. The file is written whole through the safe rewrite, or not at all.
class CConnectionExport : public QObject {
  Q_OBJECT

 public:
  explicit CConnectionExport(QObject* parent = nullptr);
  // Waits for a file still being written: it is then whole.
  ~CConnectionExport() override;

  // False while another file is being written.
  bool Write(const QString& path, ExportFormat format, ExportColumns columns, std::vector<ConnectionRecord> records);
  bool Busy() const { return m_busy; }

 signals:
  // On the window's thread; `reason` says why a file could not be written.
  void written(const QString& path, int connections, bool ok, const QString& reason);

 private:
  std::thread m_writer;
  std::atomic<bool> m_busy{false};
};
