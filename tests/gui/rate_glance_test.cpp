// The rate at a glance: the status bar's chart and the tray's icon,
// offscreen, where the platform has no tray.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <string>
#include <vector>

#include "gui/frame_fixture.h"
#include "text/format_amount.h"
#include "ui/command_ids.h"
#include "ui/rate_chart.h"
#include "ui/tray_icon.h"

namespace {

int PixelsOf(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == colour;
  return count;
}

std::string Utf8(const QString& text) { return text.toStdString(); }

class RateGlanceTest : public FrameTest {};

// One bar a second for three minutes, the newest at the right, as high as
// its share of the highest; the tip says the latest and the highest rate
// in the chosen unit.
TEST_F(RateGlanceTest, ChartDrawsTheLastMinutesInTheChosenUnit) {
  CMainFrame& frame = OpenFrame();
  CRateChart* chart = frame.RateChart();
  ASSERT_NE(chart, nullptr);
  EXPECT_TRUE(frame.statusBar()->isAncestorOf(chart)) << "a pane of the status bar";
  for (std::uint64_t second = 0; second < 200; ++second) frame.ShowRate(second == 190 ? 4000 : 1000, 1);
  EXPECT_EQ(chart->Samples().size(), CRateChart::kSeconds);
  EXPECT_EQ(Utf8(chart->toolTip()), "最近 3 分钟的总流量\n当前: " + std::string(FormatAmount(1000, 1, 1, 1)) +
                                         ", 最高: " + FormatAmount(4000, 1, 1, 1));

  const QImage image = chart->grab().toImage();
  const QColor bars = chart->palette().color(QPalette::Highlight);
  const int column = image.width() - 10;  // the 4000 bytes' second
  int high = 0, low = 0;
  for (int y = 0; y < image.height(); ++y) {
    high += image.pixelColor(column, y) == bars;
    low += image.pixelColor(column - 1, y) == bars;
  }
  EXPECT_EQ(high, image.height());
  EXPECT_EQ(low, image.height() / 4 + (image.height() % 4 != 0));
  EXPECT_GT(PixelsOf(image, bars), 0);
}

// No tray on this platform: none is made, and closing the window ends it
// as it always has.
TEST_F(RateGlanceTest, WithoutATrayClosingEndsAsToday) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  CMainFrame& frame = OpenFrame();
  frame.show();
  EXPECT_EQ(frame.Tray(), nullptr);
  QSignalSpy closed(&frame, &CMainFrame::windowClosed);
  EXPECT_TRUE(frame.close());
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(frame.isVisible());
}

// Built by hand here: its tip, its image and its menu, which shows and
// hides the window and carries out Pause and Exit.
TEST_F(RateGlanceTest, TrayIconShowsTheRateAndCarriesItsCommands) {
  CMainFrame& frame = OpenFrame();
  frame.show();
  std::vector<int> commands;
  CTrayIcon tray(frame, [&commands](int id) { commands.push_back(id); });
  tray.ShowRate({100, 2048}, 3);
  EXPECT_EQ(Utf8(tray.Icon().toolTip()), "Quorvel - 当前: " + std::string(FormatAmount(2048, 1, 1, 3)));
  EXPECT_FALSE(tray.Icon().icon().isNull());

  const QList<QAction*> items = tray.Menu().actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(Utf8(items[0]->text()), "显示/隐藏窗口");
  EXPECT_EQ(Utf8(items[1]->text()), "暂停");
  EXPECT_EQ(Utf8(items[3]->text()), "退出");
  items[0]->trigger();
  EXPECT_FALSE(frame.isVisible());
  items[0]->trigger();
  EXPECT_TRUE(frame.isVisible());
  tray.SetPaused(true, true);
  EXPECT_TRUE(items[1]->isChecked());
  items[1]->trigger();
  items[3]->trigger();
  EXPECT_EQ(commands, (std::vector<int>{ID_CAPTURE_PAUSE, ID_QUIT}));
}

}  // namespace
