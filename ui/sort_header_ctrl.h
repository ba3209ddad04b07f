#pragma once

#include <QHeaderView>
#include <QSet>

// The traffic list's header. It marks the column the rows were last sorted
// by with a small raised triangle at the item's right end, pointing up for
// ascending and down for descending, in colours that stand out from the
// header's face in light and dark themes alike. A column draws itself from
// the moment it is first sorted by, with or without the mark; the others
// keep the style's own look, their labels as far from the item's ends as
// those a column draws itself. Clicking, resizing and dragging columns stay the
// header's usual behaviour; the view decides what a click sorts.
class CSortHeaderCtrl : public QHeaderView {
  Q_OBJECT

 public:
  explicit CSortHeaderCtrl(QWidget* parent = nullptr);

  // `column` -1 takes the mark away.
  void SetSortIndicator(int column, bool ascending);
  int SortColumn() const { return m_sortColumn; }
  bool SortAscending() const { return m_sortAscending; }

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void DrawItem(QPainter& painter, const QRect& rect, int logicalIndex) const;
  void DrawStyledItem(QPainter& painter, const QRect& rect, int logicalIndex) const;
  bool OnDivider(int x) const;
  void SetPressed(int logicalIndex);

  int m_sortColumn = -1;
  bool m_sortAscending = true;
  QSet<int> m_ownerDrawn;
  int m_pressCandidate = -1;  // the item the button went down on
  int m_pressed = -1;         // shown pressed: the pointer is still on it
};
