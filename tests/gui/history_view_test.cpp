// The 历史 page: what leaves the list, with its figures, as the window
// shows it.
#include "ui/history_view.h"

#include <gtest/gtest.h>

#include <QTabWidget>
#include <string>
#include <vector>

#include "gui/view_fixture.h"
#include "platform/tick_count.h"
#include "ui/command_ids.h"

namespace {

class HistoryViewTest : public ViewTableTest {
 protected:
  HistoryViewTest() {
    Settings().idlemsec = 10000;
    Clock(1000);
  }
  ~HistoryViewTest() override {
    CloseWindow();
    platform::ReleaseTestTickCount();
  }

  void Clock(std::uint32_t tick) { platform::SetTestTickCount(tick); }
  CHistoryModel& History() { return view->History().Model(); }
  // The row's source, traffic, packets, duration and reason.
  std::vector<std::string> Row(int row) {
    std::vector<std::string> cells;
    for (int column : {CHistoryModel::kSource, CHistoryModel::kProtocol, CHistoryModel::kTraffic,
                       CHistoryModel::kPackets, CHistoryModel::kDuration, CHistoryModel::kReason})
      cells.push_back(History().CellText(row, column));
    return cells;
  }
};

using Cells = std::vector<std::string>;

// Idle expiry, hiding a protocol, Clear and the next Start's emptying of a
// stopped capture's rows each bring the rows to the history, once, with
// their exact figures and why they left.
TEST_F(HistoryViewTest, RowsThatLeaveTheListReachTheHistory) {
  OpenWindow();
  ASSERT_NE(Frame().Pages(), nullptr);
  EXPECT_EQ(Frame().Pages()->tabText(1).toStdString(), "历史");
  Account(6, 1, 300);
  Clock(3500);
  Account(6, 1, 200);
  Account(17, 2);
  Pass();
  Clock(13501);
  Account(17, 2);  // keeps the UDP row
  Pass();
  EXPECT_EQ(view->Model().rowCount(), 1);
  ASSERT_EQ(History().rowCount(), 1);
  EXPECT_EQ(Row(0), (Cells{"10.0.0.1", "TCP", "500", "2", "0:00:02.5", "空闲超时"}));

  Frame().ExecuteCommand(ID_HIDE_UDP);
  Frame().ExecuteCommand(ID_HIDE_UDP);
  Account(1, 3);
  Pass();
  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  Account(6, 4, 40 + 1460);
  Table().RemoveAll(CloseReason::kStopped);  // as the next Start does
  view->Drain();
  ASSERT_EQ(History().rowCount(), 4);
  EXPECT_EQ(Row(1), (Cells{"10.0.0.2", "UDP", "200", "2", "0:00:10.0", "已隐藏"}));
  EXPECT_EQ(Row(2), (Cells{"10.0.0.3", "ICMP", "100", "1", "0:00:00.0", "已清空"}));
  EXPECT_EQ(Row(3), (Cells{"10.0.0.4", "TCP", "1500", "1", "0:00:00.0", "已停止"}));
  EXPECT_EQ(History().CellText(0, CHistoryModel::kDestinationPort), "80");
  EXPECT_EQ(History().CellText(1, CHistoryModel::kAverageSpeed), "20");
  EXPECT_EQ(view->History().DroppedText(), "");
}

// A history of two keeps the last two and says how many went; the search
// box narrows it as it narrows the list, and the count in the status bar
// is the page's shown; a click on a header sorts it by the figures.
TEST_F(HistoryViewTest, BoundSearchAndSort) {
  Settings().historysize = 2;
  OpenWindow();
  for (int host = 1; host <= 3; ++host) Account(17, host, static_cast<std::uint16_t>(100 * host));
  Pass();
  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  ASSERT_EQ(History().rowCount(), 2);
  EXPECT_EQ(History().CellText(0, CHistoryModel::kSource), "10.0.0.2");
  EXPECT_EQ(view->History().DroppedText().toStdString(), "历史已满 (2 条): 最早的 1 条已被丢弃");

  view->History().SortByColumn(CHistoryModel::kTraffic, false);
  EXPECT_EQ(History().CellText(0, CHistoryModel::kSource), "10.0.0.3");
  Account(17, 4);
  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  ASSERT_EQ(History().rowCount(), 2) << "a sorted history still lets its oldest go";
  EXPECT_EQ(History().CellText(0, CHistoryModel::kSource), "10.0.0.3");
  EXPECT_EQ(History().CellText(1, CHistoryModel::kSource), "10.0.0.4");

  Account(17, 5);
  Pass();
  view->Search(QStringLiteral("10.0.0.4"));
  EXPECT_EQ(History().rowCount(), 1);
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "0 / 1 行") << "the list's page";
  Frame().Pages()->setCurrentIndex(1);
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "1 / 2 行");
  view->Search(QStringLiteral(":80 udp"));
  EXPECT_EQ(History().rowCount(), 2);
  view->Search(QString());
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "");
}

}  // namespace
