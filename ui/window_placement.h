#pragma once

#include <QRect>
#include <Qt>
#include <optional>
#include <vector>

// The main window's placement as the settings keep it: a show command and
// the normal (restored) rectangle in workspace coordinates, that is relative
// to the top left of the primary screen's work area (the screen less its
// panels). A window that is maximised or minimised keeps the rectangle it
// returns to.
struct StoredPlacement {
  int status = -1;
  int left = -1;
  int top = -1;
  int right = -1;
  int bottom = -1;
};

// Show commands as the settings store them.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

// What restoring needs to know of the screens.
struct ScreenMetrics {
  QRect workArea;                // the primary screen's, where workspace coordinates start
  std::vector<QRect> workAreas;  // every screen's, the primary's included
};

struct RestoredPlacement {
  QRect geometry;  // the normal rectangle, in screen coordinates
  Qt::WindowStates state;
};

// Nothing when the placement was never stored (any value is -1): the window
// then takes its default size and position. A rectangle that no screen
// holds whole (a monitor was unplugged, the scale factor changed) is
// shrunk to the screen it overlaps most, or to the nearest one, and moved
// onto it.
std::optional<RestoredPlacement> RestorePlacement(const StoredPlacement& stored,
                                                  const ScreenMetrics& metrics);

// The rectangle, unchanged when one of the areas holds it whole; otherwise
// no larger than the area it overlaps most (the nearest area when it
// overlaps none) and moved the least way into it. Unchanged without areas.
QRect FitToScreens(const QRect& rectangle, const std::vector<QRect>& areas);

StoredPlacement RecordPlacement(Qt::WindowStates state, const QRect& normalGeometry,
                                const QRect& workArea);
