#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Describe(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

const ScreenMetrics kPanelAtTop{QRect(0, 30, 1920, 1050), {QRect(0, 30, 1920, 1050)}};
const ScreenMetrics kPanelAtLeft{QRect(60, 0, 1860, 1080), {QRect(60, 0, 1860, 1080)}};
// A 1920x1080 screen at the scale factor 2.
const ScreenMetrics kScaledTwice{QRect(0, 0, 960, 540), {QRect(0, 0, 960, 540)}};
// A second monitor right of the first, its top 200 px lower.
const ScreenMetrics kTwoMonitors{QRect(0, 30, 1920, 1050), {QRect(0, 30, 1920, 1050), QRect(1920, 200, 1280, 1024)}};

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
      {"whole on the screen", {1, 1320, 0, 1920, 400}, kPanelAtTop, {1320, 30, 600, 400}, Qt::WindowNoState},
      // A window that no screen holds whole is moved the least way onto
      // the screen it overlaps most, and shrunk to it when larger.
      {"beyond the right", {1, 5000, 10, 5600, 410}, kPanelAtTop, {1320, 40, 600, 400}, Qt::WindowNoState},
      {"one pixel over the right", {1, 1321, 10, 1921, 410}, kPanelAtTop, {1320, 40, 600, 400},
       Qt::WindowNoState},
      {"beyond the bottom", {1, 10, 3000, 610, 3400}, kPanelAtTop, {10, 680, 600, 400}, Qt::WindowNoState},
      {"above and left", {1, -300, -20, 300, 380}, kPanelAtLeft, {60, 0, 600, 400}, Qt::WindowNoState},
      {"larger than the screen", {1, 1041, 574, 2801, 1654}, kScaledTwice, {0, 0, 960, 540},
       Qt::WindowNoState},
      {"higher than the screen", {1, 100, 0, 700, 1200}, kPanelAtTop, {100, 30, 600, 1050}, Qt::WindowNoState},
      {"maximised, off the screen", {3, 4000, 10, 4600, 410}, kPanelAtTop, {1320, 40, 600, 400},
       Qt::WindowMaximized},
      // Several screens: a window on the second stays there, one on a
      // monitor that is gone comes to the nearest, one across both goes to
      // the one it overlaps most.
      {"on the second screen", {1, 2000, 300, 2600, 700}, kTwoMonitors, {2000, 330, 600, 400},
       Qt::WindowNoState},
      {"below the second screen", {1, 2000, 1500, 2600, 1900}, kTwoMonitors, {2000, 824, 600, 400},
       Qt::WindowNoState},
      {"on a third screen, gone", {1, 3400, 100, 4000, 500}, kTwoMonitors, {2600, 200, 600, 400},
       Qt::WindowNoState},
      {"mostly on the first", {1, 1500, 300, 2100, 700}, kTwoMonitors, {1320, 330, 600, 400},
       Qt::WindowNoState},
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
