#include "ui/window_placement.h"

#include <algorithm>

namespace {

Qt::WindowStates StateOfShowCommand(int status) {
  switch (status) {
    case kShowMinimized:
    case 6:   // minimise
    case 7:   // show minimised without activating
    case 11:  // force minimise
      return Qt::WindowMinimized;
    case kShowMaximized: return Qt::WindowMaximized;
    default: return Qt::WindowNoState;
  }
}

}  // namespace

std::optional<RestoredPlacement> RestorePlacement(const StoredPlacement& s, const ScreenMetrics& m) {
  if (s.status == -1 || s.top == -1 || s.bottom == -1 || s.left == -1 || s.right == -1) return {};
  const int width = s.right - s.left;
  const int height = s.bottom - s.top;
  int x = s.left + m.workArea.left();
  int y = s.top + m.workArea.top();
  x = std::min(x, m.screen.left() + m.screen.width() - m.icon.width());
  y = std::min(y, m.screen.top() + m.screen.height() - m.icon.height());
  return RestoredPlacement{QRect(x, y, width, height), StateOfShowCommand(s.status)};
}

StoredPlacement RecordPlacement(Qt::WindowStates state, const QRect& normal, const QRect& workArea) {
  StoredPlacement p;
  if (state & Qt::WindowMinimized)
    p.status = kShowMinimized;
  else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
    p.status = kShowMaximized;
  else
    p.status = kShowNormal;
  p.left = normal.left() - workArea.left();
  p.top = normal.top() - workArea.top();
  p.right = p.left + normal.width();
  p.bottom = p.top + normal.height();
  return p;
}
