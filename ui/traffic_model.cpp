#include "ui/traffic_model.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/sort_rules.h"
#include "ui/text_order.h"
#include "ui/traffic_journal.h"

namespace {

constexpr int kColumns = TrafficDisplay::kColumnCount;

const char* const kHeaders[kColumns] = {
    QT_TRANSLATE_NOOP("CTrafficModel", "源地址"), QT_TRANSLATE_NOOP("CTrafficModel", "源端口"),
    QT_TRANSLATE_NOOP("CTrafficModel", "目标地址"), QT_TRANSLATE_NOOP("CTrafficModel", "目标端口"),
    QT_TRANSLATE_NOOP("CTrafficModel", "协议"), QT_TRANSLATE_NOOP("CTrafficModel", "流量"),
    QT_TRANSLATE_NOOP("CTrafficModel", "封包"), QT_TRANSLATE_NOOP("CTrafficModel", "速度"),
    QT_TRANSLATE_NOOP("CTrafficModel", "平均速度"), QT_TRANSLATE_NOOP("CTrafficModel", "进程"),
    QT_TRANSLATE_NOOP("CTrafficModel", "用户")};

template <typename Key>
void StableSortRows(std::vector<std::pair<Key, TrafficRow*>>& keyed, bool ascending) {
  if (ascending)
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  else
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return b.first < a.first; });
}

}  // namespace

// What one batch changes in the rows shown, gathered while the operations
// are applied and announced to the views afterwards.
struct CTrafficModel::Pending {
  std::vector<TrafficRow*> removed;  // shown rows the capture deleted
  std::vector<TrafficRow*> added;    // new rows; those deleted again have no capture slot
  bool removeAllShown = false;
  int firstChanged = INT_MAX, lastChanged = -1;
  int firstColumn = kColumns, lastColumn = -1;
};

CTrafficModel::CTrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

CTrafficModel::~CTrafficModel() {
  for (TrafficRow* row : m_shownOrder.TakeAll()) delete row;
}

int CTrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_shownOrder.Size(); }

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_shownOrder.Size()) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(CellText(index.row(), index.column()));
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(index.column()));
  return {};
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return ColumnHeader(section);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(section));
  return {};
}

QString CTrafficModel::ColumnHeader(int column) { return tr(kHeaders[column]); }

// The two address columns and the owner's two read from the left, every
// other column from the right, headers included.
Qt::Alignment CTrafficModel::ColumnAlignment(int column) {
  const bool left = column == 0 || column == 2 || column == TrafficDisplay::kProcessColumn ||
                    column == TrafficDisplay::kUserColumn;
  return (left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter;
}

const ConnectionEndpoints& CTrafficModel::EndpointsAt(int row) const { return m_shownOrder.At(row)->endpoints; }

const std::string& CTrafficModel::CellText(int row, int column) const {
  return m_shownOrder.At(row)->cells[column];
}

void CTrafficModel::Apply(const JournalBatch& batch) {
  if (batch.operations.empty()) return;
  Pending pending;
  ApplyOperations(batch, pending);
  // Changes first, while every row still stands where the views last saw it.
  if (!pending.removeAllShown && pending.lastChanged >= 0)
    emit dataChanged(index(pending.firstChanged, pending.firstColumn), index(pending.lastChanged, pending.lastColumn),
                     {Qt::DisplayRole});
  RemoveShownRows(pending);
  ShowNewRows(pending);
  m_captureOrder.Compact();
}

// The rows shown have no gaps here, so a shown row's slot is its position.
void CTrafficModel::ApplyOperations(const JournalBatch& batch, Pending& pending) {
  std::size_t nextInsert = 0;
  for (const JournalBatch::Operation& op : batch.operations) {
    const std::string_view text = batch.TextOf(op);
    switch (op.kind) {
      case JournalBatch::Kind::kInsert: {
        auto row = std::make_unique<TrafficRow>();
        row->cells[0] = text;
        row->endpoints = batch.insertedEndpoints[nextInsert++];
        pending.added.push_back(row.get());
        m_captureOrder.Insert(op.row, row.release());
        break;
      }
      case JournalBatch::Kind::kSetCell: {
        if (op.row < 0 || op.row >= m_captureOrder.Size() || op.column >= kColumns) break;
        TrafficRow& row = *m_captureOrder.At(op.row);
        row.cells[op.column] = text;
        if (row.displaySlot < 0) break;
        pending.firstChanged = std::min(pending.firstChanged, row.displaySlot);
        pending.lastChanged = std::max(pending.lastChanged, row.displaySlot);
        pending.firstColumn = std::min<int>(pending.firstColumn, op.column);
        pending.lastColumn = std::max<int>(pending.lastColumn, op.column);
        break;
      }
      case JournalBatch::Kind::kDelete: {
        if (op.row < 0 || op.row >= m_captureOrder.Size()) break;
        TrafficRow& row = *m_captureOrder.At(op.row);
        m_captureOrder.Remove(row);
        if (row.displaySlot >= 0) pending.removed.push_back(&row);
        break;
      }
      case JournalBatch::Kind::kDeleteAll:
        m_captureOrder.Clear();
        pending.removed.clear();
        pending.removeAllShown = true;
        pending.firstChanged = INT_MAX;
        pending.lastChanged = -1;
        break;
    }
  }
}

// From the bottom up, one removal per run of adjacent rows: the positions
// of the rows above a run do not change when it goes. The views pay for
// each removal in proportion to the whole list, so when an expiry leaves
// many scattered gaps the rows go in one reset instead; the view keeps its
// selection and scroll position across it by the rows' keys.
void CTrafficModel::RemoveShownRows(Pending& pending) {
  if (pending.removeAllShown) {
    if (m_shownOrder.Size() > 0) {
      beginRemoveRows({}, 0, m_shownOrder.Size() - 1);
      for (TrafficRow* row : m_shownOrder.TakeAll()) delete row;
      endRemoveRows();
    }
    return;
  }
  std::vector<TrafficRow*>& removed = pending.removed;
  if (removed.empty()) return;
  std::sort(removed.begin(), removed.end(),
            [](const TrafficRow* a, const TrafficRow* b) { return a->displaySlot > b->displaySlot; });
  std::size_t runs = 1;
  for (std::size_t i = 1; i < removed.size(); ++i)
    runs += removed[i]->displaySlot == removed[i - 1]->displaySlot - 1 ? 0 : 1;

  if (runs > kMaxSeparateRemovals) {
    beginResetModel();
    for (TrafficRow* row : removed) {
      m_shownOrder.Remove(*row);
      delete row;
    }
    m_shownOrder.Compact();
    endResetModel();
    return;
  }
  for (std::size_t end = 0; end < removed.size();) {
    std::size_t begin = end++;
    while (end < removed.size() && removed[end]->displaySlot == removed[end - 1]->displaySlot - 1) ++end;
    const int first = m_shownOrder.PositionOf(*removed[end - 1]);
    const int last = m_shownOrder.PositionOf(*removed[begin]);
    beginRemoveRows({}, first, last);
    for (std::size_t i = begin; i < end; ++i) {
      m_shownOrder.Remove(*removed[i]);
      delete removed[i];
    }
    endRemoveRows();
  }
  m_shownOrder.Compact();
}

// New rows go to the end of the order shown, also after a sort: the list is
// sorted once, not kept sorted.
void CTrafficModel::ShowNewRows(Pending& pending) {
  std::vector<TrafficRow*> shown;
  for (TrafficRow* row : pending.added) {
    if (row->logicalSlot < 0)
      delete row;  // deleted again before anyone saw it
    else
      shown.push_back(row);
  }
  if (shown.empty()) return;
  const int first = m_shownOrder.Size();
  beginInsertRows({}, first, first + static_cast<int>(shown.size()) - 1);
  for (TrafficRow* row : shown) m_shownOrder.Append(row);
  endInsertRows();
}

void CTrafficModel::Sort(int column, bool ascending, int units) {
  if (column < 0 || column >= kColumns) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<TrafficRow*> rowsBefore;
  rowsBefore.reserve(before.size());
  for (const QModelIndex& index : before) rowsBefore.push_back(m_shownOrder.At(index.row()));

  switch (ColumnSortOrder(column)) {
    case ColumnOrder::kNumber: SortByKey(column, ascending, LeadingNumber); break;
    case ColumnOrder::kAmount:
      SortByKey(column, ascending, [units](std::string_view text) { return AmountValue(text, units); });
      break;
    case ColumnOrder::kText: SortByText(column, ascending); break;
    case ColumnOrder::kAddress: SortByAddress(column, ascending); break;
  }
  m_shownOrder.Renumber();

  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) after.push_back(index(rowsBefore[i]->displaySlot, before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

template <typename Key>
void CTrafficModel::SortByKey(int column, bool ascending, Key key) {
  std::vector<TrafficRow*>& rows = m_shownOrder.Rows();
  std::vector<std::pair<std::int64_t, TrafficRow*>> keyed;
  keyed.reserve(rows.size());
  for (TrafficRow* row : rows) keyed.emplace_back(key(row->cells[column]), row);
  StableSortRows(keyed, ascending);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].second;
}

// A row that shows its address as a number sorts by the address itself,
// IPv4 before IPv6; one that shows a host name sorts after those, by the
// name as text.
void CTrafficModel::SortByAddress(int column, bool ascending) {
  std::vector<TrafficRow*>& rows = m_shownOrder.Rows();
  std::unordered_map<std::string_view, std::uint32_t> nameIndex;
  std::vector<std::string_view> names;
  struct Order {
    std::uint32_t nameRank;  // 0: a number; names rank from 1
    IpAddress address;
    bool operator<(const Order& other) const {
      return nameRank != other.nameRank ? nameRank < other.nameRank : address < other.address;
    }
  };
  std::vector<std::pair<Order, TrafficRow*>> keyed;
  keyed.reserve(rows.size());
  std::vector<std::uint32_t> rowName(rows.size(), 0);
  char number[IpAddress::kTextSize];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const IpAddress& address = column == 0 ? rows[i]->endpoints.source : rows[i]->endpoints.destination;
    const std::string_view text = rows[i]->cells[column];
    keyed.push_back({{0, address}, rows[i]});
    if (text == FormatIpAddress(address, number)) continue;
    const auto [at, added] = nameIndex.try_emplace(text, static_cast<std::uint32_t>(names.size()));
    if (added) names.push_back(text);
    rowName[i] = at->second + 1;
  }
  const std::vector<std::uint32_t> rank = RankTexts(names);
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rowName[i] != 0) keyed[i].first = {rank[rowName[i] - 1] + 1, IpAddress()};
  StableSortRows(keyed, ascending);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].second;
}

// Each distinct text of the column is ranked once, and the rows sort by
// rank: a column repeats few texts (the same hosts, three protocols), and
// collating is the costly part.
void CTrafficModel::SortByText(int column, bool ascending) {
  std::vector<TrafficRow*>& rows = m_shownOrder.Rows();
  std::unordered_map<std::string_view, std::uint32_t> distinctIndex;
  std::vector<std::string_view> distinct;
  std::vector<std::uint32_t> rowText(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string_view text = rows[i]->cells[column];
    const auto [at, added] = distinctIndex.try_emplace(text, static_cast<std::uint32_t>(distinct.size()));
    if (added) distinct.push_back(text);
    rowText[i] = at->second;
  }
  const std::vector<std::uint32_t> rank = RankTexts(distinct);

  std::vector<std::pair<std::uint32_t, TrafficRow*>> keyed;
  keyed.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) keyed.emplace_back(rank[rowText[i]], rows[i]);
  StableSortRows(keyed, ascending);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].second;
}
