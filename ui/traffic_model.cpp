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
  std::vector<TrafficRow*> removed;  // rows of the list the capture deleted
  std::vector<TrafficRow*> added;    // new rows; those deleted again have no capture slot
  std::vector<TrafficRow*> searchAgain;  // rows of the list whose searched texts changed
  bool removeAllShown = false;
  int firstChanged = INT_MAX, lastChanged = -1;
  int firstColumn = kColumns, lastColumn = -1;
};

CTrafficModel::CTrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

CTrafficModel::~CTrafficModel() {
  m_matching.Clear();
  for (TrafficRow* row : m_listOrder.TakeAll()) delete row;
}

int CTrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Shown().Size(); }

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Shown().Size()) return {};
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

const ConnectionEndpoints& CTrafficModel::EndpointsAt(int row) const { return Shown().At(row)->endpoints; }

const std::string& CTrafficModel::CellText(int row, int column) const { return Shown().At(row)->cells[column]; }

void CTrafficModel::Apply(const JournalBatch& batch) {
  if (batch.operations.empty()) return;
  Pending pending;
  ApplyOperations(batch, pending);
  // Changes first, while every row still stands where the views last saw it.
  if (!pending.removeAllShown && pending.lastChanged >= 0)
    emit dataChanged(index(pending.firstChanged, pending.firstColumn), index(pending.lastChanged, pending.lastColumn),
                     {Qt::DisplayRole});
  // The rows about to be freed need no second look.
  std::erase_if(pending.searchAgain, [](const TrafficRow* row) { return row->logicalSlot < 0; });
  RemoveShownRows(pending);
  if (Searching()) SearchChangedRows(pending.searchAgain);
  ShowNewRows(pending);
  m_captureOrder.Compact();
}

// The rows shown have no gaps here, so a shown row's slot is its position.
// A row not in the list yet is searched when it joins it.
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
        if (RowSearch::Searched(op.column)) {
          row.searchText.clear();
          if (Searching() && row.displaySlot >= 0) pending.searchAgain.push_back(&row);
        }
        const int slot = ShownSlot(row);
        if (slot < 0) break;
        pending.firstChanged = std::min(pending.firstChanged, slot);
        pending.lastChanged = std::max(pending.lastChanged, slot);
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
        pending.searchAgain.clear();
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
// selection and scroll position across it by the rows' keys. Rows a search
// hides go without a word to the views.
void CTrafficModel::RemoveShownRows(Pending& pending) {
  if (pending.removeAllShown) {
    const int shown = Shown().Size();
    if (shown > 0) beginRemoveRows({}, 0, shown - 1);
    m_matching.Clear();
    for (TrafficRow* row : m_listOrder.TakeAll()) delete row;
    if (shown > 0) endRemoveRows();
    return;
  }
  std::vector<TrafficRow*>& removed = pending.removed;
  if (removed.empty()) return;
  const auto hidden = std::partition(removed.begin(), removed.end(),
                                     [this](const TrafficRow* row) { return ShownSlot(*row) >= 0; });
  for (auto it = hidden; it != removed.end(); ++it) {
    m_listOrder.Remove(**it);
    delete *it;
  }
  removed.erase(hidden, removed.end());
  const auto takeOut = [this](TrafficRow* row) {
    m_matching.Remove(*row);
    m_listOrder.Remove(*row);
    delete row;
  };

  std::sort(removed.begin(), removed.end(),
            [this](const TrafficRow* a, const TrafficRow* b) { return ShownSlot(*a) > ShownSlot(*b); });
  const auto adjacent = [this](const TrafficRow* lower, const TrafficRow* upper) {
    return ShownSlot(*lower) == ShownSlot(*upper) - 1;
  };
  std::size_t runs = removed.empty() ? 0 : 1;
  for (std::size_t i = 1; i < removed.size(); ++i) runs += adjacent(removed[i], removed[i - 1]) ? 0 : 1;

  if (runs > kMaxSeparateRemovals) {
    beginResetModel();
    for (TrafficRow* row : removed) takeOut(row);
    m_listOrder.Compact();
    m_matching.Compact();
    endResetModel();
    return;
  }
  RowSequence& shown = Shown();
  for (std::size_t end = 0; end < removed.size();) {
    std::size_t begin = end++;
    while (end < removed.size() && adjacent(removed[end], removed[end - 1])) ++end;
    const int first = shown.PositionOf(*removed[end - 1]);
    const int last = shown.PositionOf(*removed[begin]);
    beginRemoveRows({}, first, last);
    for (std::size_t i = begin; i < end; ++i) takeOut(removed[i]);
    endRemoveRows();
  }
  m_listOrder.Compact();
  m_matching.Compact();
}

// New rows go to the end of the list's order, also after a sort: the list
// is sorted once, not kept sorted. Those a search hides join it unseen.
void CTrafficModel::ShowNewRows(Pending& pending) {
  std::vector<TrafficRow*> shown;
  for (TrafficRow* row : pending.added) {
    if (row->logicalSlot < 0) {
      delete row;  // deleted again before anyone saw it
      continue;
    }
    if (Searching()) {
      m_listOrder.Append(row);
      if (!m_search.Matches(SearchTextOf(*row))) continue;
    }
    shown.push_back(row);
  }
  if (shown.empty()) return;
  RowSequence& sequence = Shown();
  const int first = sequence.Size();
  beginInsertRows({}, first, first + static_cast<int>(shown.size()) - 1);
  for (TrafficRow* row : shown) sequence.Append(row);
  endInsertRows();
}

// A search that only narrows the last one looks at the rows shown alone.
// The rows change at once, so the views are reset rather than told of each
// row: they keep their selection and scroll position by the rows' keys.
void CTrafficModel::SetSearch(RowSearch search) {
  if (search == m_search) return;
  const bool narrowing = Searching() && search.Narrows(m_search);
  beginResetModel();
  std::vector<TrafficRow*> candidates = narrowing ? m_matching.Rows() : m_listOrder.Rows();
  m_matching.Clear();
  m_search = std::move(search);
  if (Searching()) {
    std::erase_if(candidates, [this](TrafficRow* row) { return !m_search.Matches(SearchTextOf(*row)); });
    KeepMatching(candidates);
  }
  endResetModel();
}

// `rows`, in the list's order, become the rows a search lets through.
void CTrafficModel::KeepMatching(const std::vector<TrafficRow*>& rows) {
  m_matching.Clear();
  for (TrafficRow* row : rows) m_matching.Append(row);
}

// Rows of the list whose searched cells changed in this batch, looked at
// again: one leaves or joins the rows shown where it stands in the list.
// Names come in bursts; beyond a few rows that change sides, one reset.
void CTrafficModel::SearchChangedRows(std::vector<TrafficRow*>& rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::vector<TrafficRow*> leaving, joining;
  for (TrafficRow* row : rows) {
    const bool matches = m_search.Matches(SearchTextOf(*row));
    if (matches && row->matchSlot < 0) joining.push_back(row);
    if (!matches && row->matchSlot >= 0) leaving.push_back(row);
  }
  if (leaving.size() + joining.size() > kMaxSeparateRemovals) {
    beginResetModel();
    std::vector<TrafficRow*> matching;
    for (TrafficRow* row : m_listOrder.Rows())
      if (m_search.Matches(SearchTextOf(*row))) matching.push_back(row);
    KeepMatching(matching);
    endResetModel();
    return;
  }
  std::sort(leaving.begin(), leaving.end(), [](const TrafficRow* a, const TrafficRow* b) { return a->matchSlot > b->matchSlot; });
  for (TrafficRow* row : leaving) {
    // From the bottom up: the gaps lie below, so the slot is the position.
    const int position = row->matchSlot;
    beginRemoveRows({}, position, position);
    m_matching.Remove(*row);
    endRemoveRows();
  }
  m_matching.Compact();
  ShowJoiningRows(joining);
}

// Each joining row goes in before the first row shown that stands after it
// in the list.
void CTrafficModel::ShowJoiningRows(std::vector<TrafficRow*>& joining) {
  std::sort(joining.begin(), joining.end(),
            [](const TrafficRow* a, const TrafficRow* b) { return a->displaySlot < b->displaySlot; });
  for (TrafficRow* row : joining) {
    const std::vector<TrafficRow*>& matching = m_matching.Rows();
    const auto at = std::lower_bound(matching.begin(), matching.end(), row->displaySlot,
                                     [](const TrafficRow* shown, int slot) { return shown->displaySlot < slot; });
    const int position = static_cast<int>(at - matching.begin());
    beginInsertRows({}, position, position);
    m_matching.Insert(position, row);
    endInsertRows();
  }
}

void CTrafficModel::Sort(int column, bool ascending, int units) {
  if (column < 0 || column >= kColumns) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<TrafficRow*> rowsBefore;
  rowsBefore.reserve(before.size());
  for (const QModelIndex& index : before) rowsBefore.push_back(Shown().At(index.row()));

  switch (ColumnSortOrder(column)) {
    case ColumnOrder::kNumber: SortByKey(column, ascending, LeadingNumber); break;
    case ColumnOrder::kAmount:
      SortByKey(column, ascending, [units](std::string_view text) { return AmountValue(text, units); });
      break;
    case ColumnOrder::kText: SortByText(column, ascending); break;
    case ColumnOrder::kAddress: SortByAddress(column, ascending); break;
  }
  m_listOrder.Renumber();
  if (Searching()) {
    std::vector<TrafficRow*> matching;
    for (TrafficRow* row : m_listOrder.Rows())
      if (row->matchSlot >= 0) matching.push_back(row);
    KeepMatching(matching);
  }

  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) after.push_back(index(ShownSlot(*rowsBefore[i]), before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

template <typename Key>
void CTrafficModel::SortByKey(int column, bool ascending, Key key) {
  std::vector<TrafficRow*>& rows = m_listOrder.Rows();
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
  std::vector<TrafficRow*>& rows = m_listOrder.Rows();
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
  std::vector<TrafficRow*>& rows = m_listOrder.Rows();
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
