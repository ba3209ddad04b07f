#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidgetAction>
#include <string>
#include <vector>

#include "gui/frame_fixture.h"
#include "ui/command_ids.h"

namespace {

using CommandTableTest = FrameTest;

std::string Utf8(const QString& text) { return text.toStdString(); }

// "-" stands for a separator line.
std::vector<std::string> MenuItems(const QMenu& menu) {
  std::vector<std::string> items;
  for (const QAction* action : menu.actions())
    items.push_back(action->isSeparator() ? "-" : Utf8(action->text()));
  return items;
}

TEST_F(CommandTableTest, MenuBarHoldsTheCommandsInOrder) {
  CMainFrame& frame = OpenFrame();
  struct Menu {
    std::string title;
    std::vector<std::string> items;
  };
  const std::vector<Menu> expected = {
      {"&命令", {"启动\tCtrl+S", "停止\tCtrl+T", "-", "导出列表 ...", "导出选中的行 ...", "导出历史 ...", "-", "退出\tAlt+X"}},
      {"&过滤器", {"TCP\tCtrl+1", "UDP\tCtrl+2", "ICMP\tCtrl+3", "-", "取消排序", "-", "过滤过滤器\tCtrl+E"}},
      {"查看",
       {"工具栏", "状态栏", "-", "窗口置顶", "暂停\tF8", "解析地址名称\tF11", "解析端口名称\tF12", "-",
        "设置 ..."}},
      {"帮助", {"帮助文档\tF1", "-", "关于"}},
  };
  const QList<QAction*> menus = frame.menuBar()->actions();
  ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].title);
    EXPECT_EQ(Utf8(menus[i]->text()), expected[i].title);
    ASSERT_NE(menus[i]->menu(), nullptr);
    EXPECT_EQ(MenuItems(*menus[i]->menu()), expected[i].items);
  }
}

TEST_F(CommandTableTest, EveryCommandHasItsKeyPromptAndTooltip) {
  CMainFrame& frame = OpenFrame();
  struct Texts {
    int id;
    const char* key;
    std::string prompt;
    std::string tooltip;
  };
  const Texts expected[] = {
      {ID_CAPTURE_START, "Ctrl+S", "启动流量监控", "启动 (Ctrl+S)"},
      {ID_CAPTURE_STOP, "Ctrl+T", "停止流量监控", "停止 (Ctrl+T)"},
      {ID_QUIT, "Alt+X; Ctrl+Q", "退出", "退出"},
      {ID_HIDE_TCP, "Ctrl+1", "隐藏TCP包", "隐藏TCP包 (Ctrl+1)"},
      {ID_HIDE_UDP, "Ctrl+2", "隐藏UDP包", "隐藏UDP包 (Ctrl+2)"},
      {ID_HIDE_ICMP, "Ctrl+3", "隐藏ICMP包", "隐藏ICMP包 (Ctrl+3)"},
      {ID_CANCEL_SORT, "", "取消列表排序", "取消排序"},
      {ID_FILTER_SETUP, "Ctrl+E", "显示过滤器窗口", "过滤器设置"},
      {ID_VIEW_TOOLBAR, "", "显示/隐藏工具栏", "隐藏工具栏"},
      {ID_VIEW_STATUS_BAR, "", "显示/隐藏状态栏", "隐藏状态栏"},
      {ID_ALWAYS_ON_TOP, "", "保持窗口在最前", "窗口置顶"},
      {ID_CAPTURE_PAUSE, "F8", "暂停流量监控", "暂停 (F8)"},
      {ID_RESOLVE_ADDRESSES, "F11", "解析地址名称", "解析地址 (F11)"},
      {ID_RESOLVE_PORTS, "F12", "显示端口对应的服务程序名称", "解析端口名称 (F12)"},
      {ID_SETTINGS, "", "修改设置", "设置"},
      {ID_HELP_DOCUMENT, "F1", "显示文档", "帮助信息"},
      {ID_APP_ABOUT, "", "显示软件信息", "关于我们"},
      {ID_EDIT_CLEAR_ALL, "Del", "清空流量记录", "清空 (Del)"},
      {ID_EXPORT_LIST, "", "把列表中的所有连接导出为 CSV 或 JSON Lines 文件", "导出列表"},
      {ID_EXPORT_SELECTED, "", "把当前页中选中的行导出为 CSV 或 JSON Lines 文件", "导出选中的行"},
      {ID_EXPORT_HISTORY, "", "把已关闭连接的历史导出为 CSV 或 JSON Lines 文件", "导出历史"},
  };
  for (const Texts& t : expected) {
    SCOPED_TRACE(t.id);
    const QAction* action = frame.Action(t.id);
    ASSERT_NE(action, nullptr);
    const QList<QKeySequence> keys =
        *t.key == '\0' ? QList<QKeySequence>{} : QKeySequence::listFromString(QString::fromLatin1(t.key), QKeySequence::PortableText);
    EXPECT_EQ(action->shortcuts(), keys);
    EXPECT_EQ(Utf8(action->statusTip()), t.prompt);
    EXPECT_EQ(Utf8(action->toolTip()), t.tooltip);
  }
  EXPECT_EQ(Utf8(frame.AdapterSelector()->statusTip()), "显示所有网络适配器信息");
  EXPECT_EQ(Utf8(frame.AdapterSelector()->toolTip()), "网络适配器列表");
  EXPECT_EQ(Utf8(frame.windowTitle()), "Quorvel 3.0  [www.quorvel.example]");
}

// Twenty-two positions with the selector first; every button carries an
// image that draws at the sizes the toolbar and the menus use.
TEST_F(CommandTableTest, ToolbarHoldsSelectorButtonsAndSeparatorsWithImages) {
  CMainFrame& frame = OpenFrame();
  const QToolBar* toolBar = frame.findChild<QToolBar*>();
  ASSERT_NE(toolBar, nullptr);
  const QList<QAction*> actions = toolBar->actions();
  ASSERT_EQ(actions.size(), 22);

  const auto* selector = qobject_cast<QWidgetAction*>(actions[0]);
  ASSERT_NE(selector, nullptr);
  EXPECT_EQ(toolBar->widgetForAction(actions[0]), frame.AdapterSelector());
  EXPECT_EQ(frame.AdapterSelector()->width(), 250);

  const int layout[] = {0,  ID_SEPARATOR, ID_CAPTURE_START, ID_CAPTURE_STOP, ID_SEPARATOR, ID_EDIT_CLEAR_ALL,
                        ID_CAPTURE_PAUSE, ID_SEPARATOR, ID_HIDE_TCP, ID_HIDE_UDP, ID_HIDE_ICMP, ID_SEPARATOR,
                        ID_CANCEL_SORT, ID_ALWAYS_ON_TOP, ID_SEPARATOR, ID_RESOLVE_ADDRESSES, ID_RESOLVE_PORTS,
                        ID_SEPARATOR, ID_FILTER_SETUP, ID_SETTINGS, ID_SEPARATOR, ID_HELP_DOCUMENT};
  for (int position = 1; position < 22; ++position) {
    SCOPED_TRACE(position);
    const int id = layout[position];
    if (id == ID_SEPARATOR) {
      EXPECT_TRUE(actions[position]->isSeparator());
      continue;
    }
    // The same action as in the menu: text, image and state cannot drift apart.
    ASSERT_EQ(actions[position], frame.Action(id));
    for (const int size : {16, 24, 48}) {
      const QImage image = actions[position]->icon().pixmap(size, size).toImage();
      ASSERT_FALSE(image.isNull()) << size;
      int opaque = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 128;
      EXPECT_GT(opaque, image.width() * image.height() / 8) << size;
    }
  }
}

}  // namespace
