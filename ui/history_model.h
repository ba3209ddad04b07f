#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "table/connection_history.h"
#include "ui/row_search.h"

class CNSCashe;
class CServicesParser;
class CSettings;

// The history of closed connections as a table: the list's columns but
// the speed (a closed connection has none), and when each was first and
// last seen, how long it lasted and why it left. Cells are written from the
// history's figures when a view asks, so that a row costs the history's
// entry and a number. New rows join at the end, as in the list; a sort
// orders the rows once; a search shows the rows that match, as the list's
// does.
class CHistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kSource, kSourcePort, kDestination, kDestinationPort, kProtocol, kTraffic, kPackets, kAverageSpeed,
    kProcess, kUser, kFirstSeen, kLastSeen, kDuration, kReason, kColumnCount
  };

  CHistoryModel(CConnectionHistory& history, const CSettings& settings, const CNSCashe& names,
                const CServicesParser& services, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Brings the connections closed since the last call in, and takes out
  // the rows of those the history let go.
  void Refresh();

  void Sort(int column, bool ascending);
  void SetSearch(RowSearch search);
  bool Searching() const { return !m_search.Empty(); }
  int TotalRowCount() const { return static_cast<int>(m_order.size()); }

  // By position among the rows shown.
  const HistoryEntry& EntryAt(int row) const;
  std::string CellText(int row, int column) const;
  // In the order shown.
  std::vector<const HistoryEntry*> ShownEntries() const;
  const CConnectionHistory& History() const { return m_history; }

 private:
  const HistoryEntry* EntryNumbered(std::uint64_t number) const;
  std::string CellOf(const HistoryEntry& entry, int column) const;
  bool Matches(std::uint64_t number);
  void DropGone(std::size_t dropped);
  void AddArrived(std::size_t added);
  std::vector<std::uint64_t>& Shown() { return Searching() ? m_matching : m_order; }
  const std::vector<std::uint64_t>& Shown() const { return Searching() ? m_matching : m_order; }
  template <typename Key>
  void SortBy(bool ascending, Key key);

  CConnectionHistory& m_history;
  const CSettings& m_settings;
  const CNSCashe& m_names;
  const CServicesParser& m_services;
  // The rows, by their entries' numbers: in the list's order, and those a
  // search lets through in that order.
  std::vector<std::uint64_t> m_order;
  std::vector<std::uint64_t> m_matching;
  bool m_sorted = false;  // the order is no longer the numbers'
  RowSearch m_search;
  // What a search reads of each entry, by the entry's place in the
  // history; empty until a search first looks at it.
  std::deque<std::string> m_searchTexts;
};
