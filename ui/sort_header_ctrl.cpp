#include "ui/sort_header_ctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeaderV2>
#include <algorithm>
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

// The mark's two edges, taken between the header's face and its text: the
// palette's own light and dark edges may barely differ from a light face
// (or a dark one), the text colour always stands out from it. The lighter
// of the two is the light edge, so the mark looks raised on either face.
struct MarkColours {
  QColor light, shadow;
};

QColor Toward(const QColor& from, const QColor& to, double share) {
  auto channel = [share](int a, int b) { return static_cast<int>(a + (b - a) * share + 0.5); };
  return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()), channel(from.blue(), to.blue()));
}

MarkColours MarkColoursOf(const QPalette& palette) {
  constexpr double kSoftEdge = 0.45, kStrongEdge = 0.85;
  const QColor face = palette.color(QPalette::Button), text = palette.color(QPalette::ButtonText);
  const QColor soft = Toward(face, text, kSoftEdge), strong = Toward(face, text, kStrongEdge);
  if (soft.lightness() >= strong.lightness()) return {soft, strong};
  return {strong, soft};
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
  if (!rect.isValid()) return;
  painter->save();
  if (m_ownerDrawn.contains(logicalIndex))
    DrawItem(*painter, rect, logicalIndex);
  else
    DrawStyledItem(*painter, rect, logicalIndex);
  painter->restore();
}

// The style's own item, but with its label as far from the item's ends as
// an owner-drawn label keeps: the style's narrow margin lets a right-aligned
// label run into the left-aligned one beside it.
void CSortHeaderCtrl::DrawStyledItem(QPainter& painter, const QRect& rect, int logicalIndex) const {
  QStyleOptionHeaderV2 option;
  initStyleOption(&option);
  initStyleOptionForIndex(&option, logicalIndex);
  option.rect = rect;
  painter.setBrushOrigin(rect.topLeft());
  style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, this);
  QStyleOptionHeaderV2 label = option;
  const int room = rect.height() / 4;
  label.rect = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
  label.rect.setLeft(std::max(label.rect.left(), rect.left() + room));
  label.rect.setRight(std::min(label.rect.right(), rect.right() - room));
  if (label.rect.isValid()) style()->drawControl(QStyle::CE_HeaderLabel, &label, &painter, this);
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
  const MarkColours colours = MarkColoursOf(palette());
  const QPen light(colours.light, 1), shadow(colours.shadow, 1);
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
