#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <filesystem>
#include <string>

#include "gui/frame_fixture.h"
#include "ui/settings_dlg.h"
#include "filters/filter_manager.h"
#include "filters/filter_store_fakes.h"
#include "filters/filters_file.h"
#include "platform/app_files.h"
#include "ui/command_ids.h"
#include "ui/settings_dlg.h"

namespace {

std::string Describe(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

std::string StoredRect(const CSettings& s) {
  return Describe(QRect(s.left, s.top, s.right - s.left, s.bottom - s.top));
}

// The offscreen screen has no panels: workspace and screen coordinates are
// the same there.
class PlacementTest : public FrameTest {
 protected:
  void SetUp() override {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->availableGeometry(), screen->geometry());
    screen_ = screen->geometry();
  }
  QRect screen_;
};

TEST_F(PlacementTest, CloseRequestStoresWhatTheNextStartRestores) {
  struct Case {
    const char* name;
    const char* stored;
    Qt::WindowState state;
    int status;
  };
  const Case cases[] = {
      {"normal", "[mainwindow]\nstatus=1\nleft=40\ntop=30\nright=640\nbottom=430\n", Qt::WindowNoState, 1},
      {"maximised", "[mainwindow]\nstatus=3\nleft=40\ntop=30\nright=640\nbottom=430\n", Qt::WindowMaximized, 3},
      {"minimised", "[mainwindow]\nstatus=2\nleft=40\ntop=30\nright=640\nbottom=430\n", Qt::WindowMinimized, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Store(c.stored);
    CMainFrame& frame = OpenFrame();
    frame.show();
    EXPECT_EQ(frame.windowState() & (Qt::WindowMaximized | Qt::WindowMinimized), c.state);
    EXPECT_EQ(Describe(frame.normalGeometry()), "40,30 600x400");
    frame.close();
    const CSettings& stored = ReloadSettings();
    EXPECT_EQ(stored.status, c.status);
    EXPECT_EQ(StoredRect(stored), "40,30 600x400");
  }
}

// The maximised rectangle is never stored, only the one it returns to.
TEST_F(PlacementTest, WindowMaximisedDuringTheRunStoresItsNormalRectangle) {
  Store("[mainwindow]\nstatus=1\nleft=20\ntop=10\nright=520\nbottom=310\n");
  CMainFrame& frame = OpenFrame();
  frame.show();
  frame.showMaximized();
  QApplication::processEvents();
  ASSERT_TRUE(frame.isMaximized());
  ASSERT_NE(Describe(frame.geometry()), "20,10 500x300");
  frame.close();
  const CSettings& stored = ReloadSettings();
  EXPECT_EQ(stored.status, 3);
  EXPECT_EQ(StoredRect(stored), "20,10 500x300");
}

// Stored on a monitor that is gone, or larger than the screen (another
// scale factor): the window comes whole onto the screen.
TEST_F(PlacementTest, WindowStoredOffTheScreenComesWholeOntoIt) {
  struct Case {
    const char* stored;
    QRect shown;
  };
  const Case cases[] = {
      {"[mainwindow]\nstatus=1\nleft=5000\ntop=4000\nright=5600\nbottom=4400\n",
       QRect(screen_.width() - 600, screen_.height() - 400, 600, 400)},
      {"[mainwindow]\nstatus=1\nleft=-900\ntop=300\nright=-300\nbottom=700\n", QRect(0, 300, 600, 400)},
      {"[mainwindow]\nstatus=1\nleft=1041\ntop=574\nright=9041\nbottom=8574\n", screen_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    Restart();
    Store(c.stored);
    CMainFrame& frame = OpenFrame();
    frame.show();
    // The platform may move a window whose frame does not fit by the
    // frame's width.
    EXPECT_EQ(frame.size(), c.shown.size());
    EXPECT_LE((frame.pos() - c.shown.topLeft()).manhattanLength(), 8) << Describe(frame.geometry());
  }
}

TEST_F(PlacementTest, FirstStartOpensAtTheDefaultPlacementAndStoresIt) {
  CMainFrame& frame = OpenFrame();
  frame.show();
  EXPECT_FALSE(frame.isMaximized());
  EXPECT_FALSE(frame.isMinimized());
  EXPECT_FALSE(frame.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  const QRect shown = frame.geometry();
  EXPECT_GT(shown.width(), 400);
  EXPECT_GT(shown.height(), 250);
  frame.close();
  const CSettings& stored = ReloadSettings();
  EXPECT_EQ(stored.status, 1);
  EXPECT_EQ(StoredRect(stored), Describe(shown));
}

// A hand-edited rectangle without area still gives a window one can use.
TEST_F(PlacementTest, RectangleWithoutAreaGivesAUsableWindow) {
  Store("[mainwindow]\nstatus=1\nleft=300\ntop=300\nright=100\nbottom=300\n");
  CMainFrame& frame = OpenFrame();
  frame.show();
  EXPECT_GE(frame.width(), frame.minimumSizeHint().width());
  EXPECT_GE(frame.height(), frame.minimumSizeHint().height());
  EXPECT_GT(frame.width(), 0);
  EXPECT_GT(frame.height(), 0);
}

using ExitTest = FrameTest;

// Exit (Alt+X, or Ctrl+Q as on every Linux desktop) ends the window
// without a close request: the placement and the adapter of the previous
// close request stay in the settings. A close request records both.
TEST_F(ExitTest, ExitKeepsThePreviousPlacementAndCloseRecordsIt) {
  const char* previous = "[main]\nadapternum=0\n[mainwindow]\nstatus=1\nleft=40\ntop=30\nright=640\nbottom=430\n";
  struct Way {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifier modifier;
  };
  for (const Way way : {Way{"Alt+X", Qt::Key_X, Qt::AltModifier}, Way{"Ctrl+Q", Qt::Key_Q, Qt::ControlModifier},
                        Way{"close", Qt::Key_unknown, Qt::NoModifier}}) {
    SCOPED_TRACE(way.name);
    const bool exit = way.key != Qt::Key_unknown;
    Restart();
    Store(previous);
    adapters = {{"10.0.0.1 - a", "a"}, {"10.0.0.2 - b", "b"}};
    CMainFrame& frame = ShowFrame();
    QSignalSpy closed(&frame, &CMainFrame::windowClosed);
    frame.AdapterSelector()->setCurrentIndex(1);
    frame.setGeometry(100, 80, 500, 350);
    if (exit)
      QTest::keyClick(&frame, way.key, way.modifier);
    else
      frame.close();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(frame.isVisible());
    const CSettings& stored = ReloadSettings();
    EXPECT_EQ(stored.adapternum, exit ? 0 : 1);
    EXPECT_EQ(StoredRect(stored), exit ? "40,30 600x400" : "100,80 500x350");
  }
}

using FrameCommandTest = FrameTest;

TEST_F(FrameCommandTest, AlwaysOnTopTogglesInPlace) {
  CMainFrame& frame = ShowFrame();
  const QRect before = frame.geometry();
  for (const int expected : {1, 0, 1}) {
    SCOPED_TRACE(expected);
    frame.ExecuteCommand(ID_ALWAYS_ON_TOP);
    QApplication::processEvents();
    EXPECT_EQ(Settings().alwaysontop, expected);
    EXPECT_EQ(frame.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint), expected == 1);
    EXPECT_EQ(frame.windowFlags().testFlag(Qt::WindowStaysOnTopHint), expected == 1);
    EXPECT_EQ(frame.Action(ID_ALWAYS_ON_TOP)->isChecked(), expected == 1);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(Describe(frame.geometry()), Describe(before));
  }
}

TEST_F(FrameCommandTest, StoredAlwaysOnTopAppliesAtStart) {
  Store("[main]\nalwaysontop=1\n");
  CMainFrame& frame = ShowFrame();
  EXPECT_TRUE(frame.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(frame.Action(ID_ALWAYS_ON_TOP)->isChecked());
}

// Each press flips the setting, its check mark and the name table's switch;
// two presses leave all three as they were.
TEST_F(FrameCommandTest, ResolveKeysFlipTheNameTables) {
  Store("[main]\nnsresolve=0\nportresolve=1\n");
  services_.ParseLine("http 80/tcp");
  CMainFrame& frame = ShowFrame();
  ASSERT_NE(services_.Lookup(80, 6), nullptr);

  QTest::keyClick(&frame, Qt::Key_F11);
  EXPECT_EQ(Settings().nsresolve, 1);
  EXPECT_TRUE(frame.Action(ID_RESOLVE_ADDRESSES)->isChecked());
  EXPECT_EQ(nameCache_.SetResolve(1), 1);
  QTest::keyClick(&frame, Qt::Key_F11);
  EXPECT_EQ(Settings().nsresolve, 0);
  EXPECT_FALSE(frame.Action(ID_RESOLVE_ADDRESSES)->isChecked());
  EXPECT_EQ(nameCache_.SetResolve(0), 0);

  QTest::keyClick(&frame, Qt::Key_F12);
  EXPECT_EQ(Settings().portresolve, 0);
  EXPECT_FALSE(frame.Action(ID_RESOLVE_PORTS)->isChecked());
  EXPECT_EQ(services_.Lookup(80, 6), nullptr);
  QTest::keyClick(&frame, Qt::Key_F12);
  EXPECT_STREQ(services_.Lookup(80, 6), "http");
}

TEST_F(FrameCommandTest, HelpOpensTheGuideBesideTheProgram) {
  CMainFrame& frame = ShowFrame();
  QTest::keyClick(&frame, Qt::Key_F1);
  const std::string guide = platform::HelpFolderPath() + "/Quorvel.html";
  EXPECT_EQ(openedDocuments, std::vector<std::string>{guide});
  // The build puts the guide there.
  EXPECT_GT(std::filesystem::file_size(guide), 1000u);
}

// The toolbar's button and the menu's item carry one action, which opens
// the settings dialog over the window.
TEST_F(FrameCommandTest, SettingsButtonOpensTheSettingsDialog) {
  CMainFrame& frame = ShowFrame();
  QToolButton* button = nullptr;
  for (QToolBar* bar : frame.findChildren<QToolBar*>())
    if (auto* found = qobject_cast<QToolButton*>(bar->widgetForAction(frame.Action(ID_SETTINGS)))) button = found;
  ASSERT_NE(button, nullptr);
  const QWidget* parent = nullptr;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    parent = dialog->parentWidget();
    dialog->reject();
  });
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(parent, &frame);
}

TEST_F(FrameCommandTest, StatusBarShowsIdleTextRatesAndPrompts) {
  CMainFrame& frame = ShowFrame();
  EXPECT_EQ(frame.StatusText().toStdString(), "准备就绪");
  EXPECT_EQ(frame.RatesText().toStdString(), "b/s: 0   平均 b/s: 0");
  QList<QLabel*> panes;
  for (QLabel* pane : frame.statusBar()->findChildren<QLabel*>())
    if (!pane->isHidden()) panes.push_back(pane);
  ASSERT_EQ(panes.size(), 2) << "the health panes show only when they have something to say";
  EXPECT_EQ(panes[1]->width(), 200);

  frame.Action(ID_CAPTURE_STOP)->showStatusText(&frame);
  EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), "停止流量监控");
  frame.statusBar()->clearMessage();

  // After a prompt the totals stay while a capture runs; otherwise the pane
  // says the window is ready.
  for (const bool monitoring : {true, false}) {
    SCOPED_TRACE(monitoring ? "monitoring" : "not monitoring");
    view->monitoring = monitoring;
    frame.SetStatusText(QStringLiteral("packets: 3"));
    frame.Action(ID_SETTINGS)->showStatusText(&frame);
    EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), "修改设置");
    frame.statusBar()->clearMessage();
    EXPECT_EQ(frame.StatusText().toStdString(), monitoring ? "packets: 3" : "准备就绪");
  }

  frame.SetRatesText(QString::fromUtf8("当前: 4294967295 b/s, 平均: 4294967295 b/s"));
  QApplication::processEvents();
  EXPECT_GE(panes[1]->width(), panes[1]->sizeHint().width()) << "the whole rates text shows";
}

// Lost packets, lost log records and a failing adapter each have a pane left of the rates,
// there only while it has something to say; an urgent one stands out.
TEST_F(FrameCommandTest, HealthPanesAppearWhenThereIsSomethingToSay) {
  CMainFrame& frame = ShowFrame();
  EXPECT_EQ(frame.DropsText(), QString());
  frame.ShowDrops(12, true);
  EXPECT_EQ(frame.DropsText().toStdString(), "丢包: 12");
  EXPECT_TRUE(frame.DropsHighlighted());
  frame.ShowDrops(4294967296u, false);
  EXPECT_EQ(frame.DropsText().toStdString(), "丢包: 4294967296");
  EXPECT_FALSE(frame.DropsHighlighted());
  EXPECT_EQ(frame.LogLossText(), QString());
  frame.ShowLogLoss(7, true);
  EXPECT_EQ(frame.LogLossText().toStdString(), "日志丢失 7 条");

  frame.SetAdapterText(QStringLiteral("adapter"), true);
  EXPECT_EQ(frame.AdapterText().toStdString(), "adapter");
  QApplication::processEvents();
  QList<QLabel*> panes;
  for (QLabel* pane : frame.statusBar()->findChildren<QLabel*>())
    if (!pane->isHidden()) panes.push_back(pane);
  ASSERT_EQ(panes.size(), 5);
  std::sort(panes.begin(), panes.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
  EXPECT_EQ(panes[1]->text().toStdString(), "adapter");
  EXPECT_EQ(panes[2]->text().toStdString(), "丢包: 4294967296");
  EXPECT_EQ(panes[3]->text().toStdString(), "日志丢失 7 条");
  EXPECT_EQ(panes[4]->text(), frame.RatesText());

  frame.ShowDrops(0, false);
  frame.ShowLogLoss(0, false);
  EXPECT_EQ(frame.LogLossText(), QString());
  frame.SetAdapterText(QString(), false);
  EXPECT_EQ(frame.DropsText(), QString());
  EXPECT_EQ(frame.AdapterText(), QString());
}

// Left of the totals, a pause; left of the rates, the capture filters in
// force, with the expression they make as the tip. Only while monitoring.
TEST_F(FrameCommandTest, StatePanesShowAPauseAndTheFiltersInForce) {
  FiltersFile file(folder_);
  FakeFilterCapture capture;
  CFilterManager store(file.Path());
  store.SetCapture(&capture);
  filters = &store;
  CMainFrame& frame = ShowFrame();
  QLabel& pause = *frame.findChild<QLabel*>(QStringLiteral("pausePane"));
  QLabel& inForce = *frame.findChild<QLabel*>(QStringLiteral("filtersPane"));
  const auto shown = [](const QLabel& pane) { return pane.isHidden() ? std::string("-") : pane.text().toStdString(); };

  capture.monitoring = view->monitoring = true;
  store.RebuildFromList(FakeFilterRows({{"host 10.0.0.5", true}, {"udp and", true}, {"port 53", true}}));
  Settings().paused = 1;
  frame.UpdateStatePanes();
  EXPECT_EQ(shown(pause), "已暂停");
  EXPECT_EQ(shown(inForce), "过滤器: 2");
  EXPECT_EQ(inForce.toolTip().toStdString(), "(host 10.0.0.5) or (port 53)");
  QApplication::processEvents();
  for (const QLabel* pane : frame.statusBar()->findChildren<QLabel*>())
    if (pane->text() == frame.StatusText()) {
      EXPECT_LT(pause.x(), pane->x()) << "left of the totals";
    }

  Settings().paused = 0;
  store.RebuildFromList(FakeFilterRows({{"port 53", false}}));
  frame.UpdateStatePanes();
  EXPECT_EQ(shown(pause), "-");
  EXPECT_EQ(shown(inForce), "-") << "no filter is on";

  store.RebuildFromList(FakeFilterRows({{"port 53", true}}));
  Settings().paused = 1;
  view->monitoring = false;
  frame.UpdateStatePanes();
  EXPECT_EQ(shown(pause), "-");
  EXPECT_EQ(shown(inForce), "-") << "nothing is captured";
  Restart();  // the window goes before the store
  filters = nullptr;
}

}  // namespace
