#include "ui/window_placement.h"

#include <algorithm>
#include <cstdint>

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

std::int64_t OverlapArea(const QRect& a, const QRect& b) {
  const QRect overlap = a.intersected(b);
  return static_cast<std::int64_t>(overlap.width()) * overlap.height();
}

// Between the nearest points of the two; 0 when they overlap.
std::int64_t SquaredDistance(const QRect& a, const QRect& b) {
  const std::int64_t dx = std::max({0, a.left() - b.right(), b.left() - a.right()});
  const std::int64_t dy = std::max({0, a.top() - b.bottom(), b.top() - a.bottom()});
  return dx * dx + dy * dy;
}

}  // namespace

std::optional<RestoredPlacement> RestorePlacement(const StoredPlacement& s, const ScreenMetrics& m) {
  if (s.status == -1 || s.top == -1 || s.bottom == -1 || s.left == -1 || s.right == -1) return {};
  const QRect stored(s.left + m.workArea.left(), s.top + m.workArea.top(), s.right - s.left, s.bottom - s.top);
  return RestoredPlacement{FitToScreens(stored, m.workAreas), StateOfShowCommand(s.status)};
}

QRect FitToScreens(const QRect& rectangle, const std::vector<QRect>& areas) {
  if (areas.empty()) return rectangle;
  for (const QRect& area : areas)
    if (area.contains(rectangle)) return rectangle;
  const QRect& target = *std::min_element(areas.begin(), areas.end(), [&rectangle](const QRect& a, const QRect& b) {
    const std::int64_t overlapA = OverlapArea(a, rectangle), overlapB = OverlapArea(b, rectangle);
    if (overlapA != overlapB) return overlapA > overlapB;
    return SquaredDistance(a, rectangle) < SquaredDistance(b, rectangle);
  });
  const QSize size = rectangle.size().boundedTo(target.size());
  const int x = std::clamp(rectangle.x(), target.x(), target.x() + target.width() - size.width());
  const int y = std::clamp(rectangle.y(), target.y(), target.y() + target.height() - size.height());
  return QRect(QPoint(x, y), size);
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
