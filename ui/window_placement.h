#pragma once

#include <QRect>
#include <Qt>
#include <optional>

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

// What restoring needs to know of the primary screen.
struct ScreenMetrics {
  QRect workArea;
  QRect screen;
  QSize icon;  // the standard large icon
};

struct RestoredPlacement {
  QRect geometry;  // the normal rectangle, in screen coordinates
  Qt::WindowStates state;
};

// Nothing when the placement was never stored (any value is -1): the window
// then takes its default size and position. The rectangle is moved left
// and up only as far as needed to keep an icon's size of it on the screen;
// it is not moved right or down.
std::optional<RestoredPlacement> RestorePlacement(const StoredPlacement& stored,
                                                  const ScreenMetrics& metrics);

StoredPlacement RecordPlacement(Qt::WindowStates state, const QRect& normalGeometry,
                                const QRect& workArea);
