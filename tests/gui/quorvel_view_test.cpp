#include "ui/quorvel_view.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "gui/view_fixture.h"
#include "platform/adapter_lock.h"
#include "table/refresh_pass.h"
#include "ui/command_ids.h"
#include "ui/owner_columns.h"
#include "ui/product.h"
#include "ui/sort_header_ctrl.h"

namespace {

ConnectionKey Key(const char* source, int sourcePort, const char* destination, int destinationPort,
                  int protocol = 6) {
  ConnectionKey key;
  inet_pton(AF_INET, source, &key.sourceAddress);
  inet_pton(AF_INET, destination, &key.destinationAddress);
  key.sourcePort = htons(static_cast<std::uint16_t>(sourcePort));
  key.destinationPort = htons(static_cast<std::uint16_t>(destinationPort));
  key.protocol = static_cast<std::uint8_t>(protocol);
  return key;
}

// One column of the rows as shown, top to bottom.
std::vector<std::string> Column(CQuorvelView& view, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < view.Model().rowCount(); ++row) texts.push_back(view.Model().CellText(row, column));
  return texts;
}

std::string Clipboard() { return QGuiApplication::clipboard()->text().toStdString(); }

// A device name no machine has, unique to this process.
std::string AbsentDevice(const char* tag) { return std::string("qvno") + tag + std::to_string(getpid() % 100000); }

TEST_F(ViewTest, StartWithoutAChosenAdapterDoesNothing) {
  for (const bool listed : {false, true}) {
    SCOPED_TRACE(listed ? "nothing selected" : "no adapter listed");
    adapters.clear();
    if (listed) adapters.push_back({"10.0.0.1 - test", AbsentDevice("a")});
    OpenWindow();
    Frame().AdapterSelector()->setCurrentIndex(-1);
    Frame().ExecuteCommand(ID_CAPTURE_START);
    EXPECT_FALSE(view->Monitoring());
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(ViewMessageBox(), nullptr);
    EXPECT_EQ(Frame().windowTitle().toStdString(), product::kTitle);
    CloseWindow();
  }
}

// A Start that could not open the adapter leaves nothing held: the next
// Start tries the adapter again instead of calling it in use.
TEST_F(ViewTest, StartAfterAFailedOpenTriesTheAdapterAgain) {
  const std::string device = AbsentDevice("b");
  adapters.push_back({"10.0.0.1 - test", device});
  OpenWindow();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    Frame().ExecuteCommand(ID_CAPTURE_START);
    EXPECT_FALSE(view->Monitoring());
    ASSERT_EQ(messages.texts.size(), static_cast<std::size_t>(attempt));
    EXPECT_NE(messages.texts.back().find("无法启动驱动程序"), std::string::npos);
    EXPECT_EQ(ViewMessageBox(), nullptr);
    EXPECT_TRUE(Frame().CommandStateOf(ID_CAPTURE_START).enabled);
  }
  platform::AdapterLock other;
  EXPECT_EQ(other.Acquire(device), platform::AdapterLock::Outcome::kAcquired);
}

TEST_F(ViewTest, AdapterHeldByAnotherMonitorIsRefusedUntilItLetsGo) {
  const std::string device = AbsentDevice("c");
  adapters.push_back({"10.0.0.1 - test", device});
  OpenWindow();
  OtherMonitor other(device);
  ASSERT_TRUE(other.Holding());

  Frame().ExecuteCommand(ID_CAPTURE_START);
  QMessageBox* box = ViewMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle().toStdString(), "错误");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->text().toStdString(), "该网络适配器已被另一个Quorvel的进程占用\n");
  EXPECT_TRUE(messages.texts.empty());  // the adapter was not even tried
  EXPECT_FALSE(view->Monitoring());
  box->close();
  QApplication::processEvents();

  other.Release();
  Frame().ExecuteCommand(ID_CAPTURE_START);
  EXPECT_EQ(ViewMessageBox(), nullptr);
  ASSERT_EQ(messages.texts.size(), 1u);  // now it is tried
  EXPECT_NE(messages.texts[0].find("无法启动驱动程序"), std::string::npos);
}

class ViewSortTest : public ViewTest {
 protected:
  // Rows whose traffic cells show amounts of the dynamic unit and whose
  // port and address cells show names where the user asked for them.
  void AddRows() {
    OpenWindow();
    AddRow(Key("10.0.0.2", 1025, "10.0.0.9", 80), {"beta.lan", "1025", "10.0.0.9", "http", "TCP", "900 bytes", "3"});
    AddRow(Key("10.0.0.1", 22, "10.0.0.9", 53), {"10.0.0.1", "ssh", "10.0.0.9", "53", "UDP", "1.50 Kb", "12"});
    AddRow(Key("10.0.0.3", 8080, "10.0.0.9", 443),
           {"Alpha.lan", "8080", "10.0.0.9", "443", "TCP", "2.10 Kb", "7", "0", "0", "curl (4242)", "alice"});
    AddRow(Key("10.0.0.4", 9, "10.0.0.9", 9), {"alpha.lan", "9", "10.0.0.9", "9", "ICMP", "12 bytes", "3"});
  }
  void Click(int column) {
    CSortHeaderCtrl& header = view->Header();
    const QPoint at(header.sectionViewportPosition(column) + header.sectionSize(column) / 2, header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
};

// Amounts by the bytes they show, ports and counts as atoi reads them (a
// service name is 0), text as text in the locale's order; a second click
// reverses; equal keys keep their order.
TEST_F(ViewSortTest, ClicksSortByTheColumnsRules) {
  AddRows();
  struct Step {
    int column;
    int expectedColumn;
    std::vector<std::string> expected;
  };
  const Step steps[] = {
      {5, 5, {"12 bytes", "900 bytes", "1.50 Kb", "2.10 Kb"}},
      {5, 5, {"2.10 Kb", "1.50 Kb", "900 bytes", "12 bytes"}},
      {1, 1, {"ssh", "9", "1025", "8080"}},
      {6, 0, {"alpha.lan", "beta.lan", "Alpha.lan", "10.0.0.1"}},  // 3 and 3 as they stood, 7, 12
      {4, 4, {"ICMP", "TCP", "TCP", "UDP"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.column);
    Click(step.column);
    EXPECT_EQ(view->SortColumn(), step.column);
    EXPECT_EQ(Column(*view, step.expectedColumn), step.expected);
  }
  Click(0);
  const std::vector<std::string> byName = Column(*view, 0);
  QCollator collator;
  for (std::size_t i = 1; i < byName.size(); ++i)
    EXPECT_LE(collator.compare(QString::fromStdString(byName[i - 1]), QString::fromStdString(byName[i])), 0);
}

// Sorted once: rows that arrive later join at the end and rows whose
// figures change keep their places; Cancel sort keeps the order, takes the
// mark away, and the next click on the same column sorts ascending again.
TEST_F(ViewSortTest, SortIsDoneOnceAndCancelKeepsTheOrder) {
  AddRows();
  Click(5);
  Click(5);
  ASSERT_EQ(Column(*view, 5), (std::vector<std::string>{"2.10 Kb", "1.50 Kb", "900 bytes", "12 bytes"}));
  AddRow(Key("10.0.0.5", 1, "10.0.0.9", 1), {"10.0.0.5", "1", "10.0.0.9", "1", "TCP", "5000 bytes"});
  Table().Display()->SetCellText(0, 5, "1 bytes");  // the capture's first row, shown third
  view->Drain();
  EXPECT_EQ(Column(*view, 5), (std::vector<std::string>{"2.10 Kb", "1.50 Kb", "1 bytes", "12 bytes", "5000 bytes"}));

  ASSERT_TRUE(Frame().CommandStateOf(ID_CANCEL_SORT).enabled);
  Frame().ExecuteCommand(ID_CANCEL_SORT);
  EXPECT_EQ(view->SortColumn(), -1);
  EXPECT_EQ(view->Header().SortColumn(), -1);
  EXPECT_FALSE(Frame().CommandStateOf(ID_CANCEL_SORT).enabled);
  EXPECT_EQ(Column(*view, 5), (std::vector<std::string>{"2.10 Kb", "1.50 Kb", "1 bytes", "12 bytes", "5000 bytes"}));

  Click(5);
  EXPECT_TRUE(view->Header().SortAscending());
  EXPECT_EQ(Column(*view, 5), (std::vector<std::string>{"1 bytes", "12 bytes", "1.50 Kb", "2.10 Kb", "5000 bytes"}));
}

struct AmountCase {
  const char* name;
  int units;
  int column;
  std::vector<std::string> cells;   // in the capture's order
  std::vector<std::string> sorted;  // ascending
};

// The traffic and speed columns by the bytes they show, in every unit; an
// equal amount in other words keeps its place.
TEST_F(ViewSortTest, AmountsSortByTheBytesTheyShowInEveryUnit) {
  const AmountCase cases[] = {
      {"dynamic", 3, 5, {"16.82 Kb", "2.88 Mb", "900 bytes", "1024 bytes", "1.00 Kb"},
       {"900 bytes", "1024 bytes", "1.00 Kb", "16.82 Kb", "2.88 Mb"}},
      {"dynamic rates", 3, 7, {"1.50 Kb/s", "2.00 Mb/s", "900 b/s"}, {"900 b/s", "1.50 Kb/s", "2.00 Mb/s"}},
      {"K/bytes", 1, 5, {"1.75", "12.00", "1.25", "0.99"}, {"0.99", "1.25", "1.75", "12.00"}},
      {"M/bytes", 2, 8, {"0.50", "3.00", "0.05"}, {"0.05", "0.50", "3.00"}},
      {"bytes", 0, 5, {"1500", "70000", "200"}, {"200", "1500", "70000"}},
  };
  for (const AmountCase& c : cases) {
    SCOPED_TRACE(c.name);
    Settings().units = c.units;
    OpenWindow();
    for (std::size_t i = 0; i < c.cells.size(); ++i) {
      std::vector<std::string> cells = {"a", "1", "b", "1", "TCP", "0", "1", "0", "0"};
      cells[c.column] = c.cells[i];
      AddRow(Key("10.0.0.1", static_cast<std::uint16_t>(i + 1), "10.0.0.9", 1), cells);
    }
    view->OnColumnClick(c.column);
    EXPECT_EQ(Column(*view, c.column), c.sorted);
    CloseWindow();
  }
}

class ViewCopyTest : public ViewSortTest {};

// The menu and the copies give numbers, also for rows shown with names.
TEST_F(ViewCopyTest, ContextMenuCopiesTheLowestSelectedRowsNumbers) {
  AddRows();
  view->selectRow(2);  // Alpha.lan:8080 -> 10.0.0.9:443
  view->selectionModel()->select(view->Model().index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  std::unique_ptr<QMenu> menu = view->CreateContextMenu();
  ASSERT_NE(menu, nullptr);
  std::vector<std::string> labels;
  for (QAction* action : menu->actions()) labels.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  EXPECT_EQ(labels, (std::vector<std::string>{"复制源地址: 10.0.0.3", "复制源端口: 8080", "-",
                                              "复制目标地址: 10.0.0.9", "复制目标端口: 443", "-",
                                              "复制进程: curl (4242)", "复制用户: alice", "-", "复制选中的行", "-",
                                              "导出选中的行 ...", "导出列表 ...", "导出历史 ..."}));
  const std::vector<std::string> copies = {"10.0.0.3", "8080", "10.0.0.9", "443", "curl (4242)", "alice"};
  const int actionIndex[] = {0, 1, 3, 4, 6, 7};
  for (int i = 0; i < 6; ++i) {
    menu->actions()[actionIndex[i]]->trigger();
    EXPECT_EQ(Clipboard(), copies[i]);
  }
  menu->actions()[9]->trigger();
  EXPECT_EQ(Clipboard(), "10.0.0.3\t8080\t10.0.0.9\t443\r\n10.0.0.4\t9\t10.0.0.9\t9\r\n");
  view->selectRow(1);  // no owner known: nothing of it to copy
  EXPECT_EQ(view->CreateContextMenu()->actions().size(), 11);
}

TEST_F(ViewCopyTest, SelectedLinesGoTopToBottomAndNothingSelectedCopiesNothing) {
  AddRows();
  view->OnColumnClick(5);  // shown: 10.0.0.4, 10.0.0.2, 10.0.0.1, 10.0.0.3
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  EXPECT_EQ(view->CreateContextMenu(), nullptr);
  view->CopySelectedLines();
  EXPECT_EQ(Clipboard(), "before");

  for (const int row : {3, 0, 1})
    view->selectionModel()->select(view->Model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view->CopySelectedLines();
  const std::string lines =
      "10.0.0.4\t9\t10.0.0.9\t9\r\n"
      "10.0.0.2\t1025\t10.0.0.9\t80\r\n"
      "10.0.0.3\t8080\t10.0.0.9\t443\r\n";
  EXPECT_EQ(Clipboard(), lines);

  // Ctrl+C copies the same lines, not the current cell.
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  view->setFocus();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Clipboard(), lines);
}

// An expiry that leaves many gaps at once goes in one reset of the model;
// the user's selection, current row and scroll position come through it.
TEST_F(ViewTest, SelectionAndScrollSurviveAnExpiryOfScatteredRows) {
  OpenWindow();
  Frame().resize(800, 400);
  for (int n = 0; n < 600; ++n) {
    const std::string address = "10.0." + std::to_string(n / 256) + "." + std::to_string(n % 256);
    AddRow(Key(address.c_str(), 1000, "10.9.9.9", 80), {address, "1000", "10.9.9.9", "80", "TCP"});
  }
  QApplication::processEvents();
  for (const int row : {301, 303, 304, 451})
    view->selectionModel()->select(view->Model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view->selectionModel()->setCurrentIndex(view->Model().index(303, 0), QItemSelectionModel::NoUpdate);
  view->scrollTo(view->Model().index(299, 0), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(view->rowAt(0), 299);
  QSignalSpy resets(&view->Model(), &QAbstractItemModel::modelReset);

  // Every even row of the capture's order expires in one pass.
  TrafficDisplay& display = *Table().Display();
  for (int row = 0; row < display.ItemCount(); ++row) display.DeleteRow(row);
  view->Drain();
  QApplication::processEvents();

  ASSERT_EQ(resets.count(), 1);
  ASSERT_EQ(view->Model().rowCount(), 300);
  std::vector<std::string> selected;
  for (const QModelIndex& index : view->selectionModel()->selectedRows())
    selected.push_back(view->Model().CellText(index.row(), 0));
  std::sort(selected.begin(), selected.end());
  EXPECT_EQ(selected, (std::vector<std::string>{"10.0.1.195", "10.0.1.45", "10.0.1.47"}));  // 304 expired
  EXPECT_EQ(view->Model().CellText(view->currentIndex().row(), 0), "10.0.1.47");
  EXPECT_EQ(view->Model().CellText(view->rowAt(0), 0), "10.0.1.43");  // row 299 is still the top
}

// The widths go back under each column's own key, wherever it was dragged.
TEST_F(ViewTest, ColumnWidthsAreStoredByColumnAfterADrag) {
  Store("[list]\nsrcaddr=111\nsrcport=71\ndestaddr=131\ndestport=72\nproto=51\ntraffic=101\npackets=91\nbs=81\nabs=82\n");
  OpenWindow();
  CSortHeaderCtrl& header = view->Header();
  const int expectedOpened[] = {111, 71, 131, 72, 51, 101, 91, 81, 82};
  for (int column = 0; column < 9; ++column) EXPECT_EQ(header.sectionSize(column), expectedOpened[column]);
  header.moveSection(header.visualIndex(0), 6);
  header.moveSection(header.visualIndex(7), 0);
  header.resizeSection(0, 155);
  header.resizeSection(7, 66);
  CloseWindow();
  const CSettings& s = Settings();
  const int stored[] = {s.srcaddr, s.srcport, s.destaddr, s.destport, s.proto, s.traffic, s.packets, s.bs, s.abs};
  const int expectedStored[] = {155, 71, 131, 72, 51, 101, 91, 66, 82};
  for (int column = 0; column < 9; ++column) EXPECT_EQ(stored[column], expectedStored[column]) << column;
}

// The owner's two columns hide and show from the header's menu; which are
// shown is stored, and a hidden column keeps its width for its return.
TEST_F(ViewTest, OwnerColumnsHideFromTheHeaderMenuAndComeBackAsTheyWere) {
  Store("[list]\nprocess=140\nshowuser=0\n");
  OpenWindow();
  CSortHeaderCtrl& header = view->Header();
  EXPECT_FALSE(header.isSectionHidden(9));
  EXPECT_EQ(header.sectionSize(9), 140);
  EXPECT_TRUE(header.isSectionHidden(10));
  const auto menuItems = [&] {
    std::vector<std::pair<std::string, bool>> items;
    const std::unique_ptr<QMenu> menu = view->findChild<COwnerColumns*>()->CreateHeaderMenu(view);
    for (QAction* action : menu->actions())
      items.emplace_back(action->text().toStdString(), action->isChecked());
    return items;
  };
  EXPECT_EQ(menuItems(), (std::vector<std::pair<std::string, bool>>{{"进程", true}, {"用户", false}}));
  view->findChild<COwnerColumns*>()->CreateHeaderMenu(view)->actions()[0]->trigger();
  EXPECT_TRUE(header.isSectionHidden(9));
  CloseWindow();
  EXPECT_EQ(Settings().showprocess, 0);
  EXPECT_EQ(Settings().showuser, 0);
  EXPECT_EQ(Settings().process, 140);

  OpenWindow();
  COwnerColumns& columns = *view->findChild<COwnerColumns*>();
  EXPECT_TRUE(view->Header().isSectionHidden(9));
  columns.CreateHeaderMenu(view)->actions()[0]->trigger();
  EXPECT_FALSE(view->Header().isSectionHidden(9));
  EXPECT_EQ(view->Header().sectionSize(9), 140);
}

TEST_F(ViewTest, ColumnsShowTheirHeadersAndAlignment) {
  OpenWindow();
  const char* headers[] = {"源地址", "源端口", "目标地址", "目标端口", "协议", "流量",
                           "封包",   "速度",   "平均速度", "进程",     "用户"};
  for (int column = 0; column < 11; ++column) {
    SCOPED_TRACE(column);
    EXPECT_EQ(view->Model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString(),
              headers[column]);
    const bool left = column == 0 || column == 2 || column >= 9;
    const auto alignment = view->Model().headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
    EXPECT_EQ(alignment & Qt::AlignHorizontal_Mask, left ? Qt::AlignLeft : Qt::AlignRight);
  }
}

// Black text pixels in the list's viewport, between two heights.
int TextPixels(QWidget& viewport, int top, int bottom) {
  const QImage image = viewport.grab().toImage();
  const QRgb text = viewport.palette().color(QPalette::Text).rgb();
  int count = 0;
  for (int y = top; y < std::min(bottom, image.height()); ++y)
    for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == text ? 1 : 0;
  return count;
}

// The empty list asks for an adapter, 10 pixels below the header; a row,
// even one with empty cells, takes the hint away.
TEST_F(ViewTest, EmptyListPaintsTheHint) {
  OpenWindow();
  Frame().resize(900, 500);
  EXPECT_EQ(view->HintText().toStdString(), "请从上方列表里选择一个网络适配器,再点击开始按钮以启动流量监控");
  QWidget& viewport = *view->viewport();
  EXPECT_EQ(TextPixels(viewport, 0, 10), 0);
  EXPECT_GT(TextPixels(viewport, 10, 40), 0);

  AddRow(Key("10.0.0.1", 1, "10.0.0.9", 1), {"", "", "", "", "", "", "", "", ""});
  EXPECT_EQ(TextPixels(viewport, 0, 40), 0);
}

// Hiding a protocol takes its rows away at once, without waiting for the
// list's next update; showing it again brings nothing back. Clear empties
// the list at once too. The status totals reach the first pane.
TEST_F(ViewTableTest, HideAndClearTakeRowsAwayAtOnce) {
  const auto Protocols = [this] { return Column(*view, 4); };
  OpenWindow();
  Account(6, 1), Account(17, 2), Account(6, 3), Account(1, 4), Account(17, 5);
  Pass();
  EXPECT_EQ(Frame().StatusText().toStdString(), "全部数据包: 5, 数据: 364 bytes, 总流量: 500 bytes");
  ASSERT_EQ(Protocols(), (std::vector<std::string>{"TCP", "UDP", "TCP", "ICMP", "UDP"}));

  Frame().ExecuteCommand(ID_HIDE_TCP);
  EXPECT_EQ(Protocols(), (std::vector<std::string>{"UDP", "ICMP", "UDP"}));
  EXPECT_TRUE(Frame().CommandStateOf(ID_HIDE_TCP).checked);
  Frame().ExecuteCommand(ID_HIDE_UDP);
  EXPECT_EQ(Protocols(), (std::vector<std::string>{"ICMP"}));
  Frame().ExecuteCommand(ID_HIDE_TCP);
  EXPECT_FALSE(Frame().CommandStateOf(ID_HIDE_TCP).checked);
  EXPECT_EQ(Protocols(), (std::vector<std::string>{"ICMP"}));

  Account(6, 6), Account(1, 7);
  Pass();
  EXPECT_EQ(Protocols(), (std::vector<std::string>{"ICMP", "TCP", "ICMP"}));
  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  EXPECT_EQ(view->Model().rowCount(), 0);
  EXPECT_EQ(Table().EntryCount(), 0u);
}

}  // namespace
