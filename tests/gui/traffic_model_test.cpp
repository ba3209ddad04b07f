#include "ui/traffic_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>

#include "gui/bridge_fixture.h"
#include "text/format_amount.h"
#include "ui/row_search.h"

namespace {

// Random row operations in the capture's manner (appends, cell writes,
// single deletions and runs of them as an expiry makes, now and then a
// delete-all), drained at random moments and sometimes sorted in between.
struct Scenario {
  const char* name;
  unsigned seed;
  int operations;
  bool sortBetweenDrains;
};

class RandomOperations {
 public:
  RandomOperations(TrafficDisplay& display, unsigned seed) : m_display(display), m_random(seed) {}

  void Step() {
    const int rows = m_display.ItemCount();
    const int dice = Pick(10000);
    if (dice == 0) {
      m_display.DeleteAllRows();
    } else if (rows == 0 || dice < 2500) {
      const int row = Insert(m_display, rows, Text().c_str(), m_entries.Next());
      for (const int column : {2, 4, 5, 1, 3}) m_display.SetCellText(row, column, Text().c_str());
    } else if (dice < 3400) {
      m_display.DeleteRow(Pick(rows));
    } else if (dice < 3430) {
      // An expiry: every tenth row or so goes in one pass, numbered as they go.
      for (int row = Pick(10); row < m_display.ItemCount(); row += Pick(20)) m_display.DeleteRow(row);
    } else {
      m_display.SetCellText(Pick(rows), Pick(TrafficDisplay::kColumnCount), Text().c_str());
    }
  }

  int Pick(int bound) { return static_cast<int>(m_random() % static_cast<unsigned>(bound)); }

 private:
  std::string Text() { return std::to_string(m_random() % 5000) + (Pick(3) == 0 ? " Kb" : ""); }

  TrafficDisplay& m_display;
  std::mt19937 m_random;
  MadeUpEntries m_entries;
};

TEST(TrafficModel, EndsAsTheOperationsDescribeInEveryOrder) {
  const Scenario scenarios[] = {
      {"drained often", 1, 20000, false},
      {"drained rarely", 2, 20000, false},
      {"sorted between drains", 3, 20000, true},
      {"long run, sorted", 4, 60000, true},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    CTrafficJournal journal;
    MemoryTrafficDisplay expected;
    TeeDisplay both(journal, expected);
    CTrafficModel model;
    RandomOperations operations(both, s.seed);
    const int drainEvery = s.seed == 2 ? 3000 : 150;
    for (int i = 0; i < s.operations; ++i) {
      operations.Step();
      if (operations.Pick(drainEvery) == 0) {
        DrainInto(journal, model);
        if (s.sortBetweenDrains) model.Sort(operations.Pick(TrafficDisplay::kColumnCount), operations.Pick(2) == 0, kUnitsBytes);
      }
    }
    DrainInto(journal, model);

    const auto& rows = expected.Rows();
    ASSERT_GT(rows.size(), 100u);  // enough left to tell orders apart
    ASSERT_EQ(model.rowCount(), static_cast<int>(rows.size()));
    if (!s.sortBetweenDrains) {
      for (int i = 0; i < model.rowCount(); ++i) ASSERT_TRUE(SameRow(ModelRow(model, i), rows[i])) << "row " << i;
      continue;
    }
    // Sorted: the same rows, each with its own cells, in another order.
    std::map<std::uint32_t, const MemoryTrafficDisplay::Row*> byConnection;
    for (const auto& row : rows) byConnection[row.endpoints.source.Ipv4Carried()] = &row;
    ASSERT_EQ(byConnection.size(), rows.size());
    for (int i = 0; i < model.rowCount(); ++i) {
      const auto found = byConnection.find(model.EndpointsAt(i).source.Ipv4Carried());
      ASSERT_NE(found, byConnection.end());
      ASSERT_TRUE(SameRow(ModelRow(model, i), *found->second)) << "row " << i;
    }
  }
}

// The search as an independent reading of what it promises: every word in
// some field, a port word equal to a port's number or to its cell.
bool ReferenceMatch(const MemoryTrafficDisplay::Row& row, const QString& query) {
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  char source[IpAddress::kTextSize], destination[IpAddress::kTextSize];
  const std::vector<std::string> ports = {std::to_string(ntohs(row.endpoints.sourcePort)),
                                          std::to_string(ntohs(row.endpoints.destinationPort)), lower(row.cells[1]),
                                          lower(row.cells[3])};
  std::vector<std::string> fields = ports;
  fields.insert(fields.end(), {FormatIpAddress(row.endpoints.source, source),
                               FormatIpAddress(row.endpoints.destination, destination)});
  for (const int column : {0, 2, 4, TrafficDisplay::kProcessColumn, TrafficDisplay::kUserColumn})
    fields.push_back(lower(row.cells[column]));
  for (const QString& word : query.split(u' ', Qt::SkipEmptyParts)) {
    const std::string w = lower(word.toStdString());
    const bool matched =
        w.size() > 1 && w[0] == ':' && w.find(':', 1) == std::string::npos
            ? std::find(ports.begin(), ports.end(), w.substr(1)) != ports.end()
            : std::any_of(fields.begin(), fields.end(), [&w](const std::string& f) { return f.find(w) != std::string::npos; });
    if (!matched) return false;
  }
  return true;
}

// A search stays in force while the capture goes on: the rows shown are
// always those of the whole list that match, in the list's order, and
// every change reaches the views as a consistent insert, removal or reset.
TEST(TrafficModel, SearchShowsTheMatchingRowsThroughEveryOperation) {
  const QString queries[] = {QStringLiteral("1"), QStringLiteral("23 kb"), QStringLiteral(":1005"),
                             QStringLiteral("10.0.0.1"), QStringLiteral("4"), QString()};
  for (const bool sortBetweenDrains : {false, true}) {
    SCOPED_TRACE(sortBetweenDrains ? "sorted between drains" : "capture's order");
    CTrafficJournal journal;
    MemoryTrafficDisplay expected;
    TeeDisplay both(journal, expected);
    CTrafficModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    RandomOperations operations(both, 7);
    QString query;
    for (int i = 0; i < 20000; ++i) {
      operations.Step();
      if (operations.Pick(150) != 0) continue;
      DrainInto(journal, model);
      if (operations.Pick(3) == 0) {
        query = queries[operations.Pick(static_cast<int>(std::size(queries)))];
        model.SetSearch(RowSearch(query));
      }
      if (sortBetweenDrains && operations.Pick(2) == 0)
        model.Sort(operations.Pick(TrafficDisplay::kColumnCount), operations.Pick(2) == 0, kUnitsBytes);

      std::multiset<std::uint32_t> wanted, shown;
      std::vector<const MemoryTrafficDisplay::Row*> matching;
      for (const auto& row : expected.Rows())
        if (ReferenceMatch(row, query)) matching.push_back(&row);
      ASSERT_EQ(model.TotalRowCount(), static_cast<int>(expected.Rows().size()));
      ASSERT_EQ(model.rowCount(), static_cast<int>(matching.size())) << query.toStdString();
      for (int row = 0; row < model.rowCount(); ++row) {
        if (!sortBetweenDrains) {
          ASSERT_TRUE(SameRow(ModelRow(model, row), *matching[row])) << "row " << row;
        }
        shown.insert(model.EndpointsAt(row).source.Ipv4Carried());
        wanted.insert(matching[row]->endpoints.source.Ipv4Carried());
      }
      ASSERT_EQ(shown, wanted);
    }
  }
}

// A batch tells the views what changed: inserts, removals and one range of
// changed cells, never a reset; a sort is a change of layout.
TEST(TrafficModel, BatchesAnnounceRowChangesWithoutAReset) {
  CTrafficJournal journal;
  CTrafficModel model;
  MadeUpEntries entries;
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
  QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);

  for (int i = 0; i < 1000; ++i) Insert(journal, i, "a", entries.Next());
  DrainInto(journal, model);
  EXPECT_EQ(inserts.count(), 1);  // a thousand rows in one insert
  EXPECT_EQ(changes.count(), 0);

  // A pass: every row's figures, rows 10-19 and 500 expire, two rows join.
  for (int row = 0; row < 1000; ++row) journal.SetCellText(row, 7, "9");
  for (int i = 0; i < 10; ++i) journal.DeleteRow(10);
  journal.DeleteRow(490);
  Insert(journal, 989, "new", entries.Next());
  Insert(journal, 990, "new", entries.Next());
  DrainInto(journal, model);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(removals.count(), 2);  // 500 alone, then 10-19 in one go
  EXPECT_EQ(inserts.count(), 2);  // both new rows in one insert
  EXPECT_EQ(model.rowCount(), 991);

  model.Sort(0, true, kUnitsBytes);
  EXPECT_EQ(layouts.count(), 1);
  EXPECT_EQ(resets.count(), 0);
}

// A pass over thousands of rows comes as one batch of many blocks of
// operations and endpoints; the view applies it and empties it for the next
// drain, as the window does. Every row gets its own texts and endpoints.
TEST(TrafficModel, BatchesLargerThanABlockArriveWhole) {
  CTrafficJournal journal;
  CTrafficModel model;
  MadeUpEntries entries;
  JournalBatch batch;
  std::vector<std::uint32_t> sources;
  constexpr int kRows = 5000;  // more inserts than 4 blocks of endpoints, 3 blocks of operations
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kRows; ++i) {
      if (round == 0) {
        const TrafficEntry& entry = entries.Next();
        sources.push_back(entry.key.sourceAddress);
        Insert(journal, i, std::to_string(i).c_str(), entry);
      }
      journal.SetCellText(i, 6, std::to_string(round * kRows + i).c_str());
      journal.SetCellText(i, 1, std::string(40 + round, 'p').c_str());
    }
    journal.Take(batch);
    model.Apply(batch);
    batch.Clear();
    ASSERT_EQ(model.rowCount(), kRows);
    for (const int row : {0, 1023, 1024, 4095, 4096, kRows - 1}) {
      EXPECT_EQ(model.CellText(row, 0), std::to_string(row));
      EXPECT_EQ(model.CellText(row, 6), std::to_string(round * kRows + row));
      EXPECT_EQ(model.CellText(row, 1), std::string(40 + round, 'p'));
      EXPECT_EQ(model.EndpointsAt(row).source.Ipv4Carried(), sources[row]);
    }
  }
}

// The capture side goes on addressing rows by its own index after the rows
// shown were sorted: its writes and deletions reach the right connections.
TEST(TrafficModel, CaptureIndicesStillReachTheirRowsAfterASort) {
  CTrafficJournal journal;
  CTrafficModel model;
  MadeUpEntries entries;
  for (int i = 0; i < 5; ++i) {
    Insert(journal, i, "x", entries.Next());
    journal.SetCellText(i, 6, std::to_string(50 - i).c_str());  // packets, falling
  }
  DrainInto(journal, model);
  model.Sort(6, true, kUnitsBytes);  // now the capture's last row is shown first
  ASSERT_EQ(model.CellText(0, 6), "46");

  journal.SetCellText(4, 7, "fourth");  // the capture's row 4
  journal.DeleteRow(0);                 // and its row 0 (packets 50, shown last)
  DrainInto(journal, model);
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(model.CellText(0, 6), "46");
  EXPECT_EQ(model.CellText(0, 7), "fourth");
  EXPECT_EQ(model.CellText(3, 6), "49");
}

// What the user has selected and how far the list is scrolled stay as they
// are while the capture updates, removes and appends rows around them.
TEST(TrafficModel, SelectionAndScrollSurviveUpdates) {
  CTrafficJournal journal;
  CTrafficModel model;
  MadeUpEntries entries;
  QTableView view;
  view.setModel(&model);
  view.setSelectionBehavior(QAbstractItemView::SelectRows);
  view.setSelectionMode(QAbstractItemView::ExtendedSelection);
  view.resize(400, 300);
  view.show();
  for (int i = 0; i < 500; ++i) Insert(journal, i, std::to_string(i).c_str(), entries.Next());
  DrainInto(journal, model);

  const auto selectedKeys = [&] {
    std::set<std::uint32_t> keys;
    for (const QModelIndex& index : view.selectionModel()->selectedRows())
      keys.insert(model.EndpointsAt(index.row()).source.Ipv4Carried());
    return keys;
  };
  for (const int row : {300, 301, 450})
    view.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view.selectionModel()->setCurrentIndex(model.index(301, 0), QItemSelectionModel::NoUpdate);
  view.verticalScrollBar()->setValue(280);
  const auto keysBefore = selectedKeys();

  for (int round = 0; round < 5; ++round) {
    for (int row = 0; row < journal.ItemCount(); ++row) journal.SetCellText(row, 5, std::to_string(round).c_str());
    journal.DeleteRow(10 + round);  // above the selection
    Insert(journal, journal.ItemCount(), "new", entries.Next());
    DrainInto(journal, model);
    QApplication::processEvents();
  }
  model.Sort(5, false, kUnitsBytes);
  EXPECT_EQ(selectedKeys(), keysBefore);
  EXPECT_EQ(model.EndpointsAt(view.currentIndex().row()).source, IpAddress::Ipv4(htonl(0x0A000000u + 301)));
  EXPECT_EQ(view.verticalScrollBar()->value(), 280);
}

}  // namespace
