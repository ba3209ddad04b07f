#include "ui/history_view.h"

#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/sort_header_ctrl.h"

CHistoryView::CHistoryView(CConnectionHistory& history, const CSettings& settings, const CNSCashe& names,
                           const CServicesParser& services, QWidget* parent)
    : QWidget(parent),
      m_model(history, settings, names, services),
      m_table(new QTableView),
      m_header(new CSortHeaderCtrl(m_table)),
      m_droppedPane(new QLabel) {
  m_table->setHorizontalHeader(m_header);
  m_table->setModel(&m_model);
  disconnect(m_header, &QHeaderView::sectionPressed, m_table, nullptr);
  disconnect(m_header, &QHeaderView::sectionEntered, m_table, nullptr);
  connect(m_header, &QHeaderView::sectionClicked, this, &CHistoryView::OnColumnClick);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_table->setWordWrap(false);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  m_droppedPane->setObjectName(QStringLiteral("historyDroppedPane"));
  m_droppedPane->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(m_table, 1);
  layout->addWidget(m_droppedPane);
  setFocusProxy(m_table);
}

void CHistoryView::Refresh() {
  m_model.Refresh();
  ShowDropped();
}

void CHistoryView::Search(const RowSearch& search) { m_model.SetSearch(search); }

void CHistoryView::OnColumnClick(int column) {
  const bool ascending = column == m_header->SortColumn() ? !m_header->SortAscending() : true;
  SortByColumn(column, ascending);
}

void CHistoryView::SortByColumn(int column, bool ascending) {
  m_header->SetSortIndicator(column, ascending);
  m_model.Sort(column, ascending);
}

void CHistoryView::ShowDropped() {
  const CConnectionHistory& history = m_model.History();
  if (history.Dropped() == m_droppedShown) return;
  m_droppedShown = history.Dropped();
  m_droppedPane->setText(tr("历史已满 (%1 条): 最早的 %2 条已被丢弃").arg(history.Capacity()).arg(m_droppedShown));
  m_droppedPane->setVisible(m_droppedShown != 0);
}

QString CHistoryView::DroppedText() const { return m_droppedPane->isHidden() ? QString() : m_droppedPane->text(); }
