#include "ui/checked_image_menu_style.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <cstdlib>

namespace {

const QColor kImage(255, 0, 0);
constexpr int kContrast = 40;  // of 255 steps of lightness

QIcon SolidImage() {
  QPixmap pixmap(64, 64);
  pixmap.fill(kImage);
  return QIcon(pixmap);
}

// A menu in the style with two items of one solid image, the first checked.
class CheckedImageMenuTest : public ::testing::Test {
 protected:
  CheckedImageMenuTest() {
    menu.setStyle(&style);
    checked = menu.addAction(SolidImage(), QStringLiteral("TCP"));
    checked->setCheckable(true);
    checked->setChecked(true);
    unchecked = menu.addAction(SolidImage(), QStringLiteral("UDP"));
    unchecked->setCheckable(true);
    menu.popup(QPoint(0, 0));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&menu));
  }
  QImage Item(QAction* action) { return menu.grab(menu.actionGeometry(action)).toImage(); }

  // The image's pixels: where they are and how many.
  static QRect ImageArea(const QImage& item, int& count) {
    QRect area;
    count = 0;
    for (int y = 0; y < item.height(); ++y)
      for (int x = 0; x < item.width(); ++x)
        if (item.pixelColor(x, y) == kImage) {
          area |= QRect(x, y, 1, 1);
          ++count;
        }
    return area;
  }

  CheckedImageMenuStyle style;
  QMenu menu;
  QAction* checked;
  QAction* unchecked;
};

// Both images whole and of one size; around the checked one a square that
// stands out from the menu (the style's own pale frame would not), around
// the other the item's own background.
TEST_F(CheckedImageMenuTest, CheckedImageStandsOnASquareThatStandsOutAtItsFullSize) {
  const QImage on = Item(checked), off = Item(unchecked);
  int onCount = 0, offCount = 0;
  const QRect onArea = ImageArea(on, onCount), offArea = ImageArea(off, offCount);
  const int size = style.baseStyle()->pixelMetric(QStyle::PM_SmallIconSize);
  EXPECT_EQ(onArea.size(), QSize(size, size));
  EXPECT_EQ(onCount, size * size);
  EXPECT_EQ(offArea, onArea);
  EXPECT_EQ(offCount, size * size);

  const QRect panel = onArea.adjusted(-CheckedImageMenuStyle::kPanelMargin, -CheckedImageMenuStyle::kPanelMargin,
                                      CheckedImageMenuStyle::kPanelMargin, CheckedImageMenuStyle::kPanelMargin);
  const QColor background = off.pixelColor(panel.topLeft());
  int ring = 0, marked = 0, plain = 0;
  for (int y = panel.top(); y <= panel.bottom(); ++y)
    for (int x = panel.left(); x <= panel.right(); ++x) {
      if (onArea.contains(x, y)) continue;
      ++ring;
      marked += std::abs(on.pixelColor(x, y).lightness() - background.lightness()) >= kContrast ? 1 : 0;
      plain += off.pixelColor(x, y) == background ? 1 : 0;
    }
  EXPECT_GE(marked, ring * 8 / 10);
  EXPECT_EQ(plain, ring);
}

}  // namespace
