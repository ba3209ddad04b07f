#pragma once

#include <QTableView>
#include <QWidget>

#include "ui/history_model.h"

class CSortHeaderCtrl;
class QLabel;

// The 历史 page: the connections that left the list during this run, and
// below them, once the history has had to let its oldest go, how many.
class CHistoryView : public QWidget {
  Q_OBJECT

 public:
  CHistoryView(CConnectionHistory& history, const CSettings& settings, const CNSCashe& names,
               const CServicesParser& services, QWidget* parent = nullptr);

  // Brings in what closed since the last call.
  void Refresh();
  void Search(const RowSearch& search);
  void SortByColumn(int column, bool ascending);

  CHistoryModel& Model() { return m_model; }
  QTableView& Table() { return *m_table; }
  // Empty while nothing was let go.
  QString DroppedText() const;

 private:
  void OnColumnClick(int column);
  void ShowDropped();

  CHistoryModel m_model;
  QTableView* m_table;
  CSortHeaderCtrl* m_header;
  QLabel* m_droppedPane;
  std::uint64_t m_droppedShown = 0;
};
