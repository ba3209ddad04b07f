#include "ui/sort_header_ctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kMaxLabelCharacters = 255;

// The pixels of a line from `from` up to, but not including, `to`, as the
// classic line drawing of the desktop sets them: the end point belongs to
// the next line, so a polyline sets every corner once.
void DrawLineExcludingEnd(QPainter& painter, QPoint from, QPoint to) {
  std::vector<QPoint> points;
  int x = from.x(), y = from.y();
  const int dx = std::abs(to.x() - x), dy = -std::abs(to.y() - y);
  const int stepX = x < to.x() ? 1 : -1, stepY = y < to.y() ? 1 : -1;
  int error = dx + dy;
  while (x != to.x() || y != to.y()) {
    points.emplace_back(x, y);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += stepX;
    }
    if (twice <= dx) {
      error += dx;
      y += stepY;
    }
  }
  painter.drawPoints(points.data(), static_cast<int>(points.size()));
}

}  // namespace

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(true);
  setSectionsMovable(true);
  setSortIndicatorShown(false);
  setHighlightSections(false);
}

// Once sorted by, a column keeps drawing itself: only the mark moves.
void CSortHeaderCtrl::SetSortIndicator(int column, bool ascending) {
  m_sortColumn = column;
  m_sortAscending = ascending;
  if (column >= 0) m_ownerDrawn.insert(column);
  viewport()->update();
}

void CSortHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  if (!m_ownerDrawn.contains(logicalIndex)) {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    return;
  }
  painter->save();
  DrawItem(*painter, rect, logicalIndex);
  painter->restore();
}

// Edges are exclusive here, as the item rectangle's right and bottom are:
// an item from x = 100 to x = 200 ends just before 200.
void CSortHeaderCtrl::DrawItem(QPainter& painter, const QRect& rect, int logicalIndex) const {
  painter.setClipRect(rect);
  painter.fillRect(rect, palette().color(QPalette::Button));

  const QAbstractItemModel* source = model();
  const QString text =
      source != nullptr ? source->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString().left(kMaxLabelCharacters)
                        : QString();
  const QVariant alignmentValue =
      source != nullptr ? source->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole) : QVariant();
  const Qt::Alignment alignment = alignmentValue.isValid() ? alignmentValue.value<Qt::Alignment>() : Qt::AlignLeft;
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (alignment & Qt::AlignHCenter)
    horizontal = Qt::AlignHCenter;
  else if (alignment & Qt::AlignRight)
    horizontal = Qt::AlignRight;

  const int right = rect.x() + rect.width(), bottom = rect.y() + rect.height();
  int labelLeft = rect.x(), labelTop = rect.y(), labelRight = right;
  if (m_pressed == logicalIndex) {
    labelLeft += 1;
    labelTop += 2;
    labelRight += 1;
  }
  const int off = rect.height() / 4;
  const bool sorted = logicalIndex == m_sortColumn;
  if (sorted) labelRight -= 3 * off;
  labelLeft += off;
  labelRight -= off;

  if (labelLeft < labelRight) {
    const int width = labelRight - labelLeft;
    const QString shown = fontMetrics().elidedText(text, Qt::ElideRight, width);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(QRect(labelLeft, labelTop, width, bottom - labelTop),
                     static_cast<int>(horizontal | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip), shown);
  }

  if (!sorted) return;
  const QPen light(palette().color(QPalette::Light), 1), shadow(palette().color(QPalette::Dark), 1);
  const int top = rect.y();
  const int R = right, B = bottom;
  if (m_sortAscending) {
    painter.setPen(light);
    DrawLineExcludingEnd(painter, {R - 2 * off, top + off}, {R - off, B - off - 1});
    DrawLineExcludingEnd(painter, {R - off, B - off - 1}, {R - 3 * off - 2, B - off - 1});
    painter.setPen(shadow);
    DrawLineExcludingEnd(painter, {R - 3 * off - 1, B - off - 1}, {R - 2 * off, top + off - 1});
  } else {
    painter.setPen(light);
    DrawLineExcludingEnd(painter, {R - off - 1, top + off}, {R - 2 * off - 1, B - off});
    painter.setPen(shadow);
    DrawLineExcludingEnd(painter, {R - 2 * off - 2, B - off}, {R - 3 * off - 1, top + off});
    DrawLineExcludingEnd(painter, {R - 3 * off - 1, top + off}, {R - off - 1, top + off});
  }
}

// The same margin the header itself grabs for resizing: a press there
// resizes a column and presses no item.
bool CSortHeaderCtrl::OnDivider(int x) const {
  const int visual = visualIndexAt(x);
  if (visual < 0) return false;
  const int logical = logicalIndex(visual);
  const int start = sectionViewportPosition(logical);
  const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
  const bool atLeft = x < start + grip && visual > 0;
  const bool atRight = x > start + sectionSize(logical) - grip;
  return atLeft || atRight;
}

void CSortHeaderCtrl::SetPressed(int logicalIndex) {
  if (logicalIndex == m_pressed) return;
  m_pressed = logicalIndex;
  viewport()->update();
}

void CSortHeaderCtrl::mousePressEvent(QMouseEvent* event) {
  QHeaderView::mousePressEvent(event);
  const int x = event->position().toPoint().x();
  if (event->button() == Qt::LeftButton && sectionsClickable() && !OnDivider(x)) {
    m_pressCandidate = logicalIndexAt(x);
    SetPressed(m_pressCandidate);
  }
}

void CSortHeaderCtrl::mouseMoveEvent(QMouseEvent* event) {
  QHeaderView::mouseMoveEvent(event);
  if (m_pressCandidate < 0) return;
  const bool over = logicalIndexAt(event->position().toPoint()) == m_pressCandidate;
  SetPressed(over ? m_pressCandidate : -1);
}

void CSortHeaderCtrl::mouseReleaseEvent(QMouseEvent* event) {
  m_pressCandidate = -1;
  SetPressed(-1);
  QHeaderView::mouseReleaseEvent(event);
}
