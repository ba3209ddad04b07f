#pragma once

#include <QAbstractTableModel>
#include <string>

#include "table/traffic_entry.h"
#include "ui/row_search.h"
#include "ui/row_sequence.h"

struct JournalBatch;

// The rows of the traffic list, in two orders: the capture's order, by
// which the capture side addresses rows (by index, as it inserts and
// deletes them), and the list's order, which a sort permutes. The views see
// the list's order, or while a search is active the rows of it that match,
// in that order; the others stay in the model, hidden. A batch of the
// capture's operations becomes row inserts, removals and one dataChanged,
// never a reset, so that the view keeps its selection and its scroll
// position. Only an expiry that tears many separate gaps into the list at
// once becomes one reset (see RemoveShownRows), as do a burst of rows that
// a search lets in or out as their names come, and a new search.
class CTrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // More separate runs of removed rows than this in one batch go in a reset.
  static constexpr std::size_t kMaxSeparateRemovals = 16;

  explicit CTrafficModel(QObject* parent = nullptr);
  ~CTrafficModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  static QString ColumnHeader(int column);
  static Qt::Alignment ColumnAlignment(int column);

  // Applies the operations of a batch in their order. A new row joins the
  // end of the list's order, wherever the capture put it in its own order:
  // the capture only ever appends, and after a sort the end is where new
  // rows belong.
  void Apply(const JournalBatch& batch);

  // Reorders the list, hidden rows too, by the comparison rules of the
  // column; rows that compare equal keep their present order. The
  // capture's order is left alone. `units`: the unit of the amounts that carry no unit word.
  void Sort(int column, bool ascending, int units);

  // Shows only the rows the search matches, or every row when it is
  // empty. A row whose searched texts change later (a host name, a program
  // found) is looked at again, and joins or leaves the rows shown.
  void SetSearch(RowSearch search);
  bool Searching() const { return !m_search.Empty(); }
  // Every row, shown or hidden by the search.
  int TotalRowCount() const { return m_listOrder.Size(); }

  // By position among the rows shown.
  const ConnectionEndpoints& EndpointsAt(int row) const;
  const std::string& CellText(int row, int column) const;

 private:
  struct Pending;
  void ApplyOperations(const JournalBatch& batch, Pending& pending);
  void RemoveShownRows(Pending& pending);
  void ShowNewRows(Pending& pending);
  void SearchChangedRows(std::vector<TrafficRow*>& rows);
  void ShowJoiningRows(std::vector<TrafficRow*>& rows);
  void KeepMatching(const std::vector<TrafficRow*>& rows);
  // The rows the views see, and the member that holds a row's place there.
  RowSequence& Shown() { return Searching() ? m_matching : m_listOrder; }
  const RowSequence& Shown() const { return Searching() ? m_matching : m_listOrder; }
  int ShownSlot(const TrafficRow& row) const { return Searching() ? row.matchSlot : row.displaySlot; }
  template <typename Key>
  void SortByKey(int column, bool ascending, Key key);
  void SortByText(int column, bool ascending);
  void SortByAddress(int column, bool ascending);

  RowSequence m_captureOrder{&TrafficRow::logicalSlot};
  RowSequence m_listOrder{&TrafficRow::displaySlot};
  RowSequence m_matching{&TrafficRow::matchSlot};  // empty while no search is active
  RowSearch m_search;
};
