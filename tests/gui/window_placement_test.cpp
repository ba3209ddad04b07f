#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Describe(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

const QRect kScreen(0, 0, 1920, 1080);
const ScreenMetrics kPanelAtTop{QRect(0, 30, 1920, 1050), kScreen, QSize(32, 32)};
const ScreenMetrics kPanelAtLeft{QRect(60, 0, 1860, 1080), kScreen, QSize(32, 32)};

TEST(RestorePlacement, AnyUnstoredValueKeepsTheDefaultPlacement) {
  const StoredPlacement stored[] = {
      {-1, 10, 10, 500, 400}, {1, -1, 10, 500, 400}, {1, 10, -1, 500, 400},
      {1, 10, 10, -1, 400},   {1, 10, 10, 500, -1},
  };
  for (const StoredPlacement& s : stored) EXPECT_FALSE(RestorePlacement(s, kPanelAtTop).has_value());
}

TEST(RestorePlacement, WorkspaceCoordinatesBecomeScreenCoordinatesWithinLimits) {
  struct Case {
    const char* name;
    StoredPlacement stored;
    ScreenMetrics metrics;
    QRect geometry;
    Qt::WindowStates state;
  };
  const Case cases[] = {
      {"panel at top", {1, 100, 50, 900, 650}, kPanelAtTop, {100, 80, 800, 600}, Qt::WindowNoState},
      {"panel at left", {1, 100, 50, 900, 650}, kPanelAtLeft, {160, 50, 800, 600}, Qt::WindowNoState},
      {"maximised", {3, 100, 50, 900, 650}, kPanelAtTop, {100, 80, 800, 600}, Qt::WindowMaximized},
      {"minimised", {2, 100, 50, 900, 650}, kPanelAtTop, {100, 80, 800, 600}, Qt::WindowMinimized},
      {"minimised, not activated", {7, 0, 0, 400, 300}, kPanelAtTop, {0, 30, 400, 300}, Qt::WindowMinimized},
      {"unknown show command", {5, 0, 0, 400, 300}, kPanelAtTop, {0, 30, 400, 300}, Qt::WindowNoState},
      // An icon's size stays on the screen: the limit is exact, and it
      // applies after the work-area offset.
      {"beyond the right", {1, 5000, 10, 5600, 410}, kPanelAtTop, {1888, 40, 600, 400}, Qt::WindowNoState},
      {"just inside", {1, 1887, 10, 2487, 410}, kPanelAtTop, {1887, 40, 600, 400}, Qt::WindowNoState},
      {"pushed over by the panel", {1, 1850, 10, 2450, 410}, kPanelAtLeft, {1888, 10, 600, 400},
       Qt::WindowNoState},
      {"beyond the bottom", {1, 10, 3000, 610, 3400}, kPanelAtTop, {10, 1048, 600, 400}, Qt::WindowNoState},
      // Nothing brings a window back from the left or the top.
      {"above and left", {1, -300, -20, 300, 380}, kPanelAtLeft, {-240, -20, 600, 400}, Qt::WindowNoState},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto restored = RestorePlacement(c.stored, c.metrics);
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(Describe(restored->geometry), Describe(c.geometry));
    EXPECT_EQ(restored->state, c.state);
  }
}

// What a close request records, the next start restores to the same place
// on the screen, wherever the panel is.
TEST(RecordPlacement, RoundTripsThroughRestore) {
  struct Case {
    Qt::WindowStates state;
    int status;
  };
  const Case cases[] = {{Qt::WindowNoState, 1},
                        {Qt::WindowMaximized, 3},
                        {Qt::WindowMinimized, 2},
                        {Qt::WindowMinimized | Qt::WindowMaximized, 2}};
  const QRect normal(300, 200, 640, 480);
  for (const ScreenMetrics& metrics : {kPanelAtTop, kPanelAtLeft}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.status);
      const StoredPlacement stored = RecordPlacement(c.state, normal, metrics.workArea);
      EXPECT_EQ(stored.status, c.status);
      EXPECT_EQ(stored.right - stored.left, 640);
      EXPECT_EQ(stored.bottom - stored.top, 480);
      const auto restored = RestorePlacement(stored, metrics);
      ASSERT_TRUE(restored.has_value());
      EXPECT_EQ(Describe(restored->geometry), Describe(normal));
    }
  }
}

}  // namespace
