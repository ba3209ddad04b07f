#include "ui/view_export.h"

#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <algorithm>

#include "ui/history_view.h"
#include "ui/traffic_model.h"
#include "ui/view_host.h"

namespace {

const char* const kCsvFilter = QT_TRANSLATE_NOOP("CViewExport", "CSV 文件 (*.csv)");
const char* const kJsonLinesFilter = QT_TRANSLATE_NOOP("CViewExport", "JSON Lines 文件 (*.jsonl)");

std::vector<int> SelectedRows(const QTableView& view) {
  std::vector<int> rows;
  if (const QItemSelectionModel* selection = view.selectionModel())
    for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

CViewExport::CViewExport(CTrafficList& table, QTableView& list, CTrafficModel& listModel, CHistoryView& history,
                         ViewHost& host, QWidget& window)
    : QObject(&window),
      m_table(table),
      m_list(list),
      m_listModel(listModel),
      m_history(history),
      m_host(host),
      m_window(window) {
  connect(&m_writer, &CConnectionExport::written, this, &CViewExport::OnWritten);
}

bool CViewExport::RowsSelected(bool historyShown) const {
  const QItemSelectionModel* selection = (historyShown ? m_history.Table() : m_list).selectionModel();
  return selection != nullptr && selection->hasSelection();
}

// The list's rows by what the table holds for them now, the history's as
// they were kept.
std::vector<ConnectionRecord> CViewExport::Records(Source source, bool historyShown) const {
  const CHistoryModel& historyModel = m_history.Model();
  const CConnectionHistory& history = historyModel.History();
  std::vector<ConnectionRecord> records;
  if (source == Source::kHistory) {
    for (std::size_t i = 0; i < history.Size(); ++i) records.push_back(HistoryRecord(history, history.At(i)));
  } else if (source == Source::kList) {
    records = ListRecords(m_table);
  } else if (historyShown) {
    for (const int row : SelectedRows(m_history.Table()))
      records.push_back(HistoryRecord(history, historyModel.EntryAt(row)));
  } else {
    std::vector<ConnectionEndpoints> selected;
    for (const int row : SelectedRows(m_list)) selected.push_back(m_listModel.EndpointsAt(row));
    records = ListRecords(m_table, &selected);
  }
  return records;
}

bool CViewExport::ExportTo(Source source, bool historyShown, const QString& path, ExportFormat format) {
  std::vector<ConnectionRecord> records = Records(source, historyShown);
  const bool closed = source == Source::kHistory || (source == Source::kSelectedRows && historyShown);
  const ExportColumns columns = ColumnsFor(records, closed);
  if (m_writer.Write(path, format, columns, std::move(records))) return true;
  auto* box = new QMessageBox(QMessageBox::Information, tr("导出"), tr("上一个导出文件还在写入, 请稍后再试。"),
                              QMessageBox::Ok, &m_window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return false;
}

void CViewExport::Ask(Source source, bool historyShown) {
  const QString titles[] = {tr("导出列表"), tr("导出选中的行"), tr("导出历史")};
  auto* dialog = new QFileDialog(&m_window, titles[static_cast<int>(source)]);
  dialog->setObjectName(QStringLiteral("exportDialog"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setNameFilters({tr(kCsvFilter), tr(kJsonLinesFilter)});
  dialog->setDefaultSuffix(QStringLiteral("csv"));
  connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& filter) {
    dialog->setDefaultSuffix(filter == tr(kJsonLinesFilter) ? QStringLiteral("jsonl") : QStringLiteral("csv"));
  });
  connect(dialog, &QFileDialog::fileSelected, this, [this, dialog, source, historyShown](const QString& path) {
    const bool jsonLines = dialog->selectedNameFilter() == tr(kJsonLinesFilter);
    ExportTo(source, historyShown, path, jsonLines ? ExportFormat::kJsonLines : ExportFormat::kCsv);
  });
  dialog->open();
}

void CViewExport::OnWritten(const QString& path, int connections, bool ok, const QString& reason) {
  if (ok) {
    m_host.ShowStatusNotice(tr("已导出 %1 个连接到 %2").arg(connections).arg(path));
    return;
  }
  QString text = tr("无法写入文件 %1").arg(path);
  if (!reason.isEmpty()) text += QStringLiteral(": ") + reason;
  auto* box = new QMessageBox(QMessageBox::Critical, tr("错误"), text, QMessageBox::Ok, &m_window);
  box->setObjectName(QStringLiteral("exportFailed"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  box->open();
}
