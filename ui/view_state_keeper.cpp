#include "ui/view_state_keeper.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "ui/traffic_model.h"

namespace {

struct EndpointsHash {
  std::size_t operator()(const ConnectionEndpoints& endpoints) const {
    std::uint64_t words[4];
    std::memcpy(words, endpoints.source.bytes.data(), 16);
    std::memcpy(words + 2, endpoints.destination.bytes.data(), 16);
    std::uint64_t hash = (std::uint64_t{endpoints.sourcePort} << 24 | std::uint64_t{endpoints.destinationPort} << 8 |
                          endpoints.protocol) ^
                         (endpoints.source.ipv6 ? 0x5555 : 0);
    for (const std::uint64_t word : words) hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    return std::hash<std::uint64_t>()(hash);
  }
};

}  // namespace

ViewStateKeeper::ViewStateKeeper(QTableView& view, CTrafficModel& model)
    : QObject(&view), m_view(view), m_model(model) {
  connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, &ViewStateKeeper::Save);
  connect(&model, &QAbstractItemModel::modelReset, this, &ViewStateKeeper::Restore);
}

void ViewStateKeeper::Save() {
  m_selected.clear();
  m_topRows.clear();
  m_current.reset();
  for (const QModelIndex& index : m_view.selectionModel()->selectedRows()) m_selected.push_back(m_model.EndpointsAt(index.row()));
  const QModelIndex current = m_view.currentIndex();
  if (current.isValid()) m_current = m_model.EndpointsAt(current.row());
  const int top = std::max(0, m_view.rowAt(0));
  const int bottom = m_view.rowAt(m_view.viewport()->height() - 1);
  const int last = bottom < 0 ? m_model.rowCount() - 1 : bottom;
  for (int row = top; row <= last && row < m_model.rowCount(); ++row) m_topRows.push_back(m_model.EndpointsAt(row));
  m_horizontalScroll = m_view.horizontalScrollBar()->value();
}

void ViewStateKeeper::Restore() {
  if (m_selected.empty() && !m_current && m_topRows.empty()) return;
  std::unordered_map<ConnectionEndpoints, int, EndpointsHash> rowOf;
  rowOf.reserve(static_cast<std::size_t>(m_model.rowCount()));
  for (int row = 0; row < m_model.rowCount(); ++row) rowOf.emplace(m_model.EndpointsAt(row), row);

  std::vector<int> selected;
  for (const ConnectionEndpoints& key : m_selected)
    if (const auto found = rowOf.find(key); found != rowOf.end()) selected.push_back(found->second);
  std::sort(selected.begin(), selected.end());
  QItemSelection selection;
  const int lastColumn = m_model.columnCount() - 1;
  for (std::size_t i = 0; i < selected.size();) {
    std::size_t end = i + 1;
    while (end < selected.size() && selected[end] == selected[end - 1] + 1) ++end;
    selection.select(m_model.index(selected[i], 0), m_model.index(selected[end - 1], lastColumn));
    i = end;
  }
  if (!selection.isEmpty()) m_view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  if (m_current)
    if (const auto found = rowOf.find(*m_current); found != rowOf.end())
      m_view.selectionModel()->setCurrentIndex(m_model.index(found->second, 0), QItemSelectionModel::NoUpdate);

  for (const ConnectionEndpoints& key : m_topRows) {
    const auto found = rowOf.find(key);
    if (found == rowOf.end()) continue;
    m_view.scrollTo(m_model.index(found->second, 0), QAbstractItemView::PositionAtTop);
    break;
  }
  m_view.horizontalScrollBar()->setValue(m_horizontalScroll);
  m_selected.clear();
  m_topRows.clear();
  m_current.reset();
}
