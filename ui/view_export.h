#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "export/export_format.h"
#include "ui/connection_export.h"

class CHistoryView;
class CTrafficList;
class CTrafficModel;
class QTableView;
class QWidget;
class ViewHost;

// The export commands of the list and the history: which connections, a
// file chosen in a dialog, and what the user is told afterwards.
class CViewExport : public QObject {
  Q_OBJECT

 public:
  enum class Source { kList, kSelectedRows, kHistory };

  CViewExport(CTrafficList& table, QTableView& list, CTrafficModel& listModel, CHistoryView& history, ViewHost& host,
              QWidget& window);

  // Asks for a file and its format, then writes it. The selected rows are
  // those of the page shown.
  void Ask(Source source, bool historyShown);
  // False when another file is still being written.
  bool ExportTo(Source source, bool historyShown, const QString& path, ExportFormat format);
  bool RowsSelected(bool historyShown) const;
  CConnectionExport& Writer() { return m_writer; }

 private:
  std::vector<ConnectionRecord> Records(Source source, bool historyShown) const;
  void OnWritten(const QString& path, int connections, bool ok, const QString& reason);

  CTrafficList& m_table;
  QTableView& m_list;
  CTrafficModel& m_listModel;
  CHistoryView& m_history;
  ViewHost& m_host;
  QWidget& m_window;
  CConnectionExport m_writer;
};
