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
#include "ui/rate_meter.h"
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
// its total's share of the highest, the sent part stacked on the received
// one; the tip says the latest rates both ways and the highest total in
// the chosen unit.
TEST_F(RateGlanceTest, ChartDrawsBothWaysOfTheLastMinutesInTheChosenUnit) {
  CMainFrame& frame = OpenFrame();
  CRateChart* chart = frame.RateChart();
  ASSERT_NE(chart, nullptr);
  EXPECT_TRUE(frame.statusBar()->isAncestorOf(chart)) << "a pane of the status bar";
  for (std::uint64_t second = 0; second < 199; ++second)
    frame.ShowRate(second == 190 ? RateSample{3000, 1000} : RateSample{1000, 0}, 1);
  frame.ShowRate({800, 200}, 1);
  EXPECT_EQ(chart->Samples().size(), CRateChart::kSeconds);
  EXPECT_EQ(Utf8(chart->toolTip()), "最近 3 分钟的接收(下)和发送(上)流量\n接收: " +
                                         std::string(FormatAmount(800, 1, 1, 1)) +
                                         ", 发送: " + FormatAmount(200, 1, 1, 1) +
                                         ", 合计最高: " + FormatAmount(4000, 1, 1, 1));

  const QImage image = chart->grab().toImage();
  ASSERT_EQ(image.height(), 18);
  const QColor received = chart->ReceivedColour(), sent = CRateChart::SentColour();
  ASSERT_NE(received, sent);
  // Column, then from the top: empty pixels, sent ones, received ones.
  const struct {
    int column;
    int empty, sent, received;
  } bars[] = {
      {image.width() - 10, 0, 5, 13},  // 4000 bytes, a quarter sent: the highest
      {image.width() - 11, 13, 0, 5},  // 1000 received: a quarter, rounded up
      {image.width() - 1, 13, 1, 4},   // 1000, a fifth sent
  };
  for (const auto& bar : bars) {
    SCOPED_TRACE(bar.column);
    for (int y = 0; y < image.height(); ++y) {
      const QColor expected = y < bar.empty ? chart->palette().color(QPalette::Base)
                              : y < bar.empty + bar.sent ? sent
                                                         : received;
      EXPECT_EQ(image.pixelColor(bar.column, y), expected) << "row " << y;
    }
  }
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
  tray.ShowRate({{100, 0}, {2048, 512}}, 3);
  EXPECT_EQ(Utf8(tray.Icon().toolTip()), "Quorvel - 接收: " + std::string(FormatAmount(2048, 1, 1, 3)) +
                                             ", 发送: " + FormatAmount(512, 1, 1, 3));
  const QImage image = tray.Icon().icon().pixmap(32, 32).toImage();
  EXPECT_GT(PixelsOf(image, CTrayIcon::ReceivedColour()), 0);
  EXPECT_GT(PixelsOf(image, CRateChart::SentColour()), 0);

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

// The chart's samples from the capture's running counters: each byte in
// exactly one sample, however late or early the timer ticks, over the
// time that really passed; counters reset by a new capture start again.
TEST(RateMeterTest, EveryByteOnceOverTheTimeItTook) {
  RateMeter meter;
  meter.Restart(10'000);
  const struct {
    std::uint64_t total, sent;
    std::int64_t at;
    std::uint64_t received, sentRate;
  } ticks[] = {
      {1000, 300, 11'000, 700, 300},   // one second
      {1000, 300, 12'000, 0, 0},       // nothing new: nothing twice
      {4000, 300, 14'000, 1500, 0},    // a late tick: two seconds' bytes over two seconds
      {4084, 384, 14'500, 0, 168},     // an early one
      {4084, 384, 14'500, 0, 0},       // no time at all
      {100, 40, 15'500, 60, 40},       // the counters went back to zero
      {101, 40, 15'503, 333, 0},       // rounded to the nearest byte per second
  };
  for (const auto& tick : ticks) {
    const RateSample sample = meter.Sample(tick.total, tick.sent, tick.at);
    EXPECT_EQ(sample.received, tick.received) << tick.at;
    EXPECT_EQ(sample.sent, tick.sentRate) << tick.at;
  }
}

}  // namespace
