#include "ui/search_box.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QTest>
#include <QToolBar>
#include <string>
#include <vector>

#include "gui/view_fixture.h"
#include "ui/command_ids.h"

namespace {

ConnectionKey RowKey(const char* source, int sourcePort, const char* destination, int destinationPort) {
  ConnectionKey key;
  inet_pton(AF_INET, source, &key.sourceAddress);
  inet_pton(AF_INET, destination, &key.destinationAddress);
  key.sourcePort = htons(static_cast<std::uint16_t>(sourcePort));
  key.destinationPort = htons(static_cast<std::uint16_t>(destinationPort));
  key.protocol = 6;
  return key;
}

class SearchBoxTest : public ViewTest {
 protected:
  void OpenWithRows() {
    OpenWindow();
    Frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame()));
    AddRow(RowKey("10.0.0.2", 1025, "10.0.0.9", 80), {"beta.lan", "1025", "10.0.0.9", "http", "TCP"});
    AddRow(RowKey("10.0.0.1", 22, "10.0.0.9", 53), {"10.0.0.1", "ssh", "10.0.0.9", "53", "UDP"});
    AddRow(RowKey("10.0.0.3", 8080, "10.0.0.9", 443),
           {"Alpha.lan", "8080", "10.0.0.9", "443", "TCP", "", "", "", "", "curl (4242)", "alice"});
    AddRow(RowKey("10.0.0.4", 9, "10.0.0.9", 9), {"alpha.lan", "9", "10.0.0.9", "9", "TCP"});
  }

  std::vector<std::string> Sources() {
    std::vector<std::string> texts;
    for (int row = 0; row < view->Model().rowCount(); ++row) texts.push_back(view->Model().CellText(row, 0));
    return texts;
  }
  CSearchBox& Box() { return *Frame().SearchBox(); }
};

// Typing narrows the list letter by letter and the status bar counts what
// is shown of all; the table behind it keeps every connection, and rows
// that come meanwhile are searched too. Escape brings every row back.
TEST_F(SearchBoxTest, TypingNarrowsTheListAndEscapeBringsItBack) {
  OpenWithRows();
  EXPECT_EQ(Frame().SearchCountText(), QString());
  view->selectRow(3);
  Box().setFocus();

  ASSERT_TRUE(Box().isVisible());
  QTest::keyClicks(&Box(), "alpha");
  EXPECT_EQ(Sources(), (std::vector<std::string>{"Alpha.lan", "alpha.lan"}));
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "2 / 4 行");
  EXPECT_EQ(Table().Display()->ItemCount(), 4);
  ASSERT_EQ(view->selectionModel()->selectedRows().size(), 1);  // the selection stays with its row
  EXPECT_EQ(view->selectionModel()->selectedRows()[0].row(), 1);

  QTest::keyClicks(&Box(), " :443");
  EXPECT_EQ(Sources(), std::vector<std::string>{"Alpha.lan"});
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "1 / 4 行");

  AddRow(RowKey("10.0.0.5", 443, "10.0.0.9", 5000), {"alpha.example", "https", "10.0.0.9", "5000", "TCP"});
  AddRow(RowKey("10.0.0.6", 443, "10.0.0.9", 5000), {"10.0.0.6", "https", "10.0.0.9", "5000", "TCP"});
  EXPECT_EQ(Sources(), (std::vector<std::string>{"Alpha.lan", "alpha.example"}));
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "2 / 6 行");

  QTest::keyClick(&Box(), Qt::Key_Escape);
  EXPECT_EQ(Box().text(), QString());
  EXPECT_EQ(view->Model().rowCount(), 6);
  EXPECT_EQ(Frame().SearchCountText(), QString());
  EXPECT_TRUE(Box().hasFocus());
  QTest::keyClick(&Box(), Qt::Key_Escape);  // once more: back to the list
  EXPECT_TRUE(view->hasFocus());
}

// Ctrl+F reaches the box from the list, and from a hidden toolbar, with
// the text selected; keys the list's commands use edit the text there.
TEST_F(SearchBoxTest, CtrlFFindsTheBoxWhoseKeysEditItsText) {
  OpenWithRows();
  Box().setText(QStringLiteral("udp"));
  Frame().ExecuteCommand(ID_VIEW_TOOLBAR);
  ASSERT_FALSE(Box().isVisible());
  view->setFocus();

  QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(Frame().findChild<QToolBar*>()->isVisible());
  EXPECT_TRUE(Box().isVisible());
  EXPECT_TRUE(Box().hasFocus());
  EXPECT_EQ(Box().selectedText(), QStringLiteral("udp"));

  QTest::keyClick(&Box(), Qt::Key_Home);
  QTest::keyClick(&Box(), Qt::Key_Delete);  // the list's Clear key
  EXPECT_EQ(Box().text(), QStringLiteral("dp"));
  EXPECT_EQ(Table().Display()->ItemCount(), 4);
  EXPECT_EQ(view->Model().TotalRowCount(), 4);
}

// A search that matches nothing says so where the rows would be; the same
// list without a search names its usual reason.
TEST_F(SearchBoxTest, NoMatchSaysSoInTheEmptyList) {
  OpenWithRows();
  Box().setText(QStringLiteral("nowhere"));
  EXPECT_EQ(view->Model().rowCount(), 0);
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "0 / 4 行");
  EXPECT_EQ(view->HintText().toStdString(), "没有连接与搜索 \"nowhere\" 匹配");

  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  EXPECT_EQ(Frame().SearchCountText().toStdString(), "0 / 0 行");
  EXPECT_EQ(view->HintText().toStdString(), "请从上方列表里选择一个网络适配器,再点击开始按钮以启动流量监控");
}

}  // namespace
