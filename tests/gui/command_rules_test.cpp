#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <functional>
#include <string>

#include "gui/frame_fixture.h"
#include "ui/command_ids.h"

namespace {

using CommandRulesTest = FrameTest;

struct RuleCase {
  std::string name;
  std::function<void(FakeView&, CSettings&)> arrange;
  int id;
  bool enabled;
  bool checked;
};

TEST_F(CommandRulesTest, ActionsFollowTheirRules) {
  const auto nothing = [](FakeView&, CSettings&) {};
  const auto monitoring = [](FakeView& v, CSettings&) { v.monitoring = true; };
  const RuleCase cases[] = {
      {"start while idle", nothing, ID_CAPTURE_START, true, false},
      {"start while monitoring", monitoring, ID_CAPTURE_START, false, false},
      {"stop while idle", nothing, ID_CAPTURE_STOP, false, false},
      {"stop while monitoring", monitoring, ID_CAPTURE_STOP, true, false},
      {"pause while idle", nothing, ID_CAPTURE_PAUSE, false, false},
      {"pause while monitoring", monitoring, ID_CAPTURE_PAUSE, true, false},
      {"paused", [](FakeView& v, CSettings& s) { v.monitoring = true; s.paused = 1; }, ID_CAPTURE_PAUSE, true,
       true},
      {"no sort column", nothing, ID_CANCEL_SORT, false, false},
      {"sort column", [](FakeView& v, CSettings&) { v.sortColumnSet = true; }, ID_CANCEL_SORT, true, false},
      {"tcp shown", nothing, ID_HIDE_TCP, true, false},
      {"tcp hidden", [](FakeView&, CSettings& s) { s.filtertcp = 1; }, ID_HIDE_TCP, true, true},
      {"udp hidden", [](FakeView&, CSettings& s) { s.filterudp = 1; }, ID_HIDE_UDP, true, true},
      {"icmp hidden", [](FakeView&, CSettings& s) { s.filtericmp = 7; }, ID_HIDE_ICMP, true, true},
      {"icmp shown", nothing, ID_HIDE_ICMP, true, false},
      {"on top", [](FakeView&, CSettings& s) { s.alwaysontop = 1; }, ID_ALWAYS_ON_TOP, true, true},
      {"addresses", [](FakeView&, CSettings& s) { s.nsresolve = 1; }, ID_RESOLVE_ADDRESSES, true, true},
      {"ports", [](FakeView&, CSettings& s) { s.portresolve = 1; }, ID_RESOLVE_PORTS, true, true},
      {"ports off", nothing, ID_RESOLVE_PORTS, true, false},
      {"toolbar", nothing, ID_VIEW_TOOLBAR, true, true},
      {"status bar", nothing, ID_VIEW_STATUS_BAR, true, true},
      {"exit while monitoring", monitoring, ID_QUIT, true, false},
      {"clear while monitoring", monitoring, ID_EDIT_CLEAR_ALL, true, false},
      {"filters", monitoring, ID_FILTER_SETUP, true, false},
      {"settings", monitoring, ID_SETTINGS, true, false},
      {"help", nothing, ID_HELP_DOCUMENT, true, false},
      {"about", nothing, ID_APP_ABOUT, true, false},
      {"export the list", nothing, ID_EXPORT_LIST, true, false},
      {"export the history", nothing, ID_EXPORT_HISTORY, true, false},
      {"export nothing selected", nothing, ID_EXPORT_SELECTED, false, false},
      {"export selected rows", [](FakeView& v, CSettings&) { v.rowsSelected = true; }, ID_EXPORT_SELECTED, true, false},
  };
  CMainFrame& frame = OpenFrame();
  CSettings& settings = Settings();
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    view->monitoring = view->sortColumnSet = false;
    settings.paused = settings.filtertcp = settings.filterudp = settings.filtericmp = 0;
    settings.alwaysontop = settings.nsresolve = settings.portresolve = 0;
    c.arrange(*view, settings);
    frame.UpdateCommandStates();
    const QAction* action = frame.Action(c.id);
    EXPECT_EQ(action->isEnabled(), c.enabled);
    EXPECT_EQ(action->isChecked(), c.checked);
  }
}

// Rules are evaluated before a menu opens, not only on the idle timer.
TEST_F(CommandRulesTest, MenuShowsCurrentStateWhenItOpens) {
  CMainFrame& frame = ShowFrame();
  QMenu* commandMenu = frame.menuBar()->actions()[0]->menu();
  view->monitoring = true;
  emit commandMenu->aboutToShow();
  EXPECT_FALSE(frame.Action(ID_CAPTURE_START)->isEnabled());
  EXPECT_TRUE(frame.Action(ID_CAPTURE_STOP)->isEnabled());
}

// However a refused command arrives, the view never sees it; an allowed
// one reaches the view exactly once.
TEST_F(CommandRulesTest, DisabledCommandIsIgnoredFromKeysAndPosts) {
  CMainFrame& frame = ShowFrame();
  view->monitoring = true;
  frame.UpdateCommandStates();

  QTest::keyClick(&frame, Qt::Key_S, Qt::ControlModifier);
  frame.PostCommand(ID_CAPTURE_START);
  QApplication::processEvents();
  EXPECT_TRUE(view->commands.empty());

  QTest::keyClick(&frame, Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(view->commands, std::vector<int>{ID_CAPTURE_STOP});
}

// The state changed after the last update: the key still goes by the rule
// as it is now.
TEST_F(CommandRulesTest, KeyGoesByTheRuleInForceWhenPressed) {
  CMainFrame& frame = ShowFrame();
  ASSERT_TRUE(frame.Action(ID_CAPTURE_START)->isEnabled());
  view->monitoring = true;
  QTest::keyClick(&frame, Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(view->commands.empty());
  EXPECT_FALSE(frame.Action(ID_CAPTURE_START)->isEnabled());
}

TEST_F(CommandRulesTest, ViewCommandKeysReachTheViewWithTheToolbarHidden) {
  CMainFrame& frame = ShowFrame();
  frame.ExecuteCommand(ID_VIEW_TOOLBAR);
  ASSERT_TRUE(frame.findChild<QToolBar*>()->isHidden());
  EXPECT_FALSE(frame.Action(ID_VIEW_TOOLBAR)->isChecked());
  view->monitoring = true;

  QTest::keyClick(&frame, Qt::Key_Delete);
  QTest::keyClick(&frame, Qt::Key_1, Qt::ControlModifier);
  QTest::keyClick(&frame, Qt::Key_2, Qt::ControlModifier);
  QTest::keyClick(&frame, Qt::Key_3, Qt::ControlModifier);
  QTest::keyClick(&frame, Qt::Key_F8);
  EXPECT_EQ(view->commands,
            (std::vector<int>{ID_EDIT_CLEAR_ALL, ID_HIDE_TCP, ID_HIDE_UDP, ID_HIDE_ICMP, ID_CAPTURE_PAUSE}));

  frame.ExecuteCommand(ID_VIEW_STATUS_BAR);
  EXPECT_TRUE(frame.statusBar()->isHidden());
  EXPECT_FALSE(frame.Action(ID_VIEW_STATUS_BAR)->isChecked());
}

// A checkable action flips its own mark when clicked; a refused command
// must not leave it flipped.
TEST_F(CommandRulesTest, RefusedToggleKeepsItsCheckMark) {
  CMainFrame& frame = ShowFrame();
  view->monitoring = true;
  Settings().paused = 1;
  frame.UpdateCommandStates();
  ASSERT_TRUE(frame.Action(ID_CAPTURE_PAUSE)->isChecked());
  view->monitoring = false;
  frame.Action(ID_CAPTURE_PAUSE)->trigger();
  EXPECT_TRUE(view->commands.empty());
  EXPECT_TRUE(frame.Action(ID_CAPTURE_PAUSE)->isChecked());
  EXPECT_FALSE(frame.Action(ID_CAPTURE_PAUSE)->isEnabled());
}

TEST_F(CommandRulesTest, AutostartPostsStartForTheEventLoop) {
  Store("[main]\nautostart=1\n");
  OpenFrame();
  EXPECT_TRUE(view->commands.empty());
  QApplication::processEvents();
  EXPECT_EQ(view->commands, std::vector<int>{ID_CAPTURE_START});
}

}  // namespace
