#include "ui/sort_header_ctrl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QStandardItemModel>
#include <QTest>
#include <cstdlib>
#include <optional>

namespace {

// The face and the text; the mark's edges lie between them, 45% and 85% of
// the way from the face to the text.
const QColor kFace(200, 200, 200), kText(0, 0, 0), kLight(110, 110, 110), kShadow(30, 30, 30);

// A header 20 pixels high (so off = 5) whose item 1 runs from x = 100 to
// x = 200, in colours that tell the face, both edges and the text apart.
class SortHeaderTest : public ::testing::Test {
 protected:
  SortHeaderTest() {
    model.setColumnCount(4);
    for (int column = 0; column < 4; ++column) {
      model.setHeaderData(column, Qt::Horizontal, QStringLiteral("Column %1").arg(column));
      model.setHeaderData(column, Qt::Horizontal, QVariant::fromValue(Qt::Alignment(Qt::AlignRight)),
                          Qt::TextAlignmentRole);
    }
    Prepare(header);
    Prepare(plain);
  }

  void Prepare(QHeaderView& h) {
    QPalette palette = h.palette();
    palette.setColor(QPalette::Button, kFace);
    palette.setColor(QPalette::ButtonText, kText);
    h.setPalette(palette);
    h.setModel(&model);
    h.setMinimumSectionSize(1);
    h.resize(500, 20);
    for (int column = 0; column < 4; ++column) h.resizeSection(column, 100);
    h.show();
  }

  QImage Image() { return header.grab().toImage(); }
  static QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

  // The columns within [left, right) where something other than the face
  // and the edge colours was painted: the label's pixels.
  static std::optional<std::pair<int, int>> LabelSpan(const QImage& image, int left, int right) {
    std::optional<std::pair<int, int>> span;
    for (int x = left; x < right; ++x)
      for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c == kFace || c == kLight || c == kShadow) continue;
        if (!span) span.emplace(x, x);
        span->second = x;
      }
    return span;
  }

  QStandardItemModel model;
  CSortHeaderCtrl header;
  QHeaderView plain{Qt::Horizontal};
};

TEST_F(SortHeaderTest, BeforeAnySortEveryItemLooksAsTheStyleDrawsIt) {
  for (int column = 0; column < 4; ++column) model.setHeaderData(column, Qt::Horizontal, QString());
  EXPECT_EQ(Image(), plain.grab().toImage());
}

// A right-aligned label beside a left-aligned one: both keep off (5) clear
// of the edge between them, as labels of items that draw themselves do.
TEST_F(SortHeaderTest, StyleDrawnLabelsKeepClearOfTheItemEnds) {
  model.setHeaderData(2, Qt::Horizontal, QVariant::fromValue(Qt::Alignment(Qt::AlignLeft)), Qt::TextAlignmentRole);
  const QImage image = Image();
  for (int column = 0; column < 4; ++column) model.setHeaderData(column, Qt::Horizontal, QString());
  const QImage unlabelled = Image();
  // The style shades its items: the label is what the texts changed.
  auto span = [&](int left, int right) {
    std::optional<std::pair<int, int>> found;
    for (int x = left; x < right; ++x)
      for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(x, y) == unlabelled.pixel(x, y)) continue;
        if (!found) found.emplace(x, x);
        found->second = x;
      }
    return found;
  };
  const auto rightAligned = span(100, 200), leftAligned = span(200, 300);
  ASSERT_TRUE(rightAligned && leftAligned);
  EXPECT_LT(rightAligned->second, 195);
  EXPECT_GE(rightAligned->second, 190);
  EXPECT_GE(leftAligned->first, 205);
  EXPECT_LT(leftAligned->first, 210);
}

struct Theme {
  const char* name;
  QColor face, light, dark, text;
};

// In a light theme the palette's light edge is hardly lighter than the
// face, in a dark one its dark edge hardly darker: the mark takes colours
// that stand out from the face in both, the lighter one on its light side.
TEST_F(SortHeaderTest, MarkStandsOutInLightAndDarkThemes) {
  const Theme themes[] = {
      {"light", QColor(0xef, 0xef, 0xef), QColor(0xff, 0xff, 0xff), QColor(0x9f, 0x9f, 0x9f), QColor(0, 0, 0)},
      {"dark", QColor(0x31, 0x36, 0x3b), QColor(0x40, 0x46, 0x4c), QColor(0x1d, 0x20, 0x23),
       QColor(0xef, 0xf0, 0xf1)},
  };
  constexpr int kMinContrast = 80;  // of 255 steps of lightness
  for (const Theme& theme : themes) {
    SCOPED_TRACE(theme.name);
    QPalette palette = header.palette();
    palette.setColor(QPalette::Button, theme.face);
    palette.setColor(QPalette::Light, theme.light);
    palette.setColor(QPalette::Dark, theme.dark);
    palette.setColor(QPalette::ButtonText, theme.text);
    header.setPalette(palette);
    header.SetSortIndicator(1, true);
    const QImage image = Image();
    const QColor light = At(image, 190, 5), shadow = At(image, 184, 14);
    EXPECT_GE(std::abs(light.lightness() - theme.face.lightness()), kMinContrast);
    EXPECT_GE(std::abs(shadow.lightness() - theme.face.lightness()), kMinContrast);
    EXPECT_GT(light.lightness(), shadow.lightness());
  }
}

// The triangle's corners as the geometry names them; each line stops one
// pixel short of its end point.
TEST_F(SortHeaderTest, TriangleStandsAtTheRightEndOfTheSortedItem) {
  struct Pixel {
    int x, y;
    QColor colour;
  };
  struct Case {
    bool ascending;
    std::vector<Pixel> pixels;
  };
  const Case cases[] = {
      {true, {{190, 5, kLight}, {195, 14, kLight}, {185, 14, kLight}, {184, 14, kShadow}, {190, 4, kFace},
              {183, 14, kFace}, {196, 14, kFace}}},
      {false, {{194, 5, kLight}, {189, 15, kFace}, {188, 15, kShadow}, {184, 5, kShadow},
               {193, 5, kShadow}, {195, 5, kFace}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ascending ? "ascending" : "descending");
    header.SetSortIndicator(1, c.ascending);
    const QImage image = Image();
    for (const Pixel& p : c.pixels) EXPECT_EQ(At(image, p.x, p.y), p.colour) << p.x << "," << p.y;
  }
}

// The sorted item's label ends 4 * off before its right edge, an item
// drawn without the mark off before it; text that does not fit ends in an
// ellipsis within that room.
TEST_F(SortHeaderTest, LabelKeepsClearOfTheTriangle) {
  model.setHeaderData(1, Qt::Horizontal, QStringLiteral("源端口源端口源端口源端口源端口源端口"));
  model.setHeaderData(2, Qt::Horizontal, QStringLiteral("目标地址目标地址目标地址目标地址目标地址"));
  model.setHeaderData(2, Qt::Horizontal, QVariant::fromValue(Qt::Alignment(Qt::AlignLeft)), Qt::TextAlignmentRole);
  header.SetSortIndicator(2, true);
  header.SetSortIndicator(1, true);
  QImage image = Image();
  auto sorted = LabelSpan(image, 100, 200);
  ASSERT_TRUE(sorted);
  EXPECT_GE(sorted->first, 105);
  EXPECT_LT(sorted->second, 180);
  EXPECT_GE(sorted->second, 170);  // right-aligned: it fills its room

  auto other = LabelSpan(image, 200, 300);  // drawn by the header, unmarked
  ASSERT_TRUE(other);
  EXPECT_GE(other->first, 205);
  EXPECT_LT(other->second, 295);
  EXPECT_GE(other->second, 285);  // the ellipsis reaches the end of the room
  EXPECT_EQ(At(image, 290, 5), kFace);
}

TEST_F(SortHeaderTest, NarrowSortedItemShowsOnlyTheTriangle) {
  for (const int width : {25, 40}) {
    SCOPED_TRACE(width);
    header.resizeSection(1, width);
    header.SetSortIndicator(1, true);
    const QImage image = Image();
    const auto label = LabelSpan(image, 100, 100 + width);
    EXPECT_EQ(label.has_value(), width > 25);
    EXPECT_EQ(At(image, 100 + width - 10, 5), kLight);
  }
}

// Cancel takes the mark away; columns sorted before go on drawing
// themselves, exactly as when another column had the mark.
TEST_F(SortHeaderTest, CancelKeepsTheItemsDrawnWithoutAMark) {
  const QImage neverSorted = Image();
  header.SetSortIndicator(1, true);
  header.SetSortIndicator(2, false);
  const QImage markedElsewhere = Image();
  header.SetSortIndicator(-1, false);
  const QImage cancelled = Image();
  EXPECT_EQ(cancelled.copy(100, 0, 100, 20), markedElsewhere.copy(100, 0, 100, 20));
  EXPECT_EQ(At(cancelled, 294, 5), kFace);
  EXPECT_EQ(At(markedElsewhere, 294, 5), kLight);
  EXPECT_NE(cancelled.copy(100, 0, 200, 20), neverSorted.copy(100, 0, 200, 20));
  EXPECT_EQ(cancelled.copy(300, 0, 100, 20), neverSorted.copy(300, 0, 100, 20));
}

// While the button holds an item down its label rectangle moves 1 right
// and its top 2 down; the text, centred in what is left, goes 1 pixel
// right and 1 down. The triangle stays.
TEST_F(SortHeaderTest, PressedItemMovesItsLabelNotItsTriangle) {
  header.SetSortIndicator(1, true);
  const QImage up = Image();
  QTest::mousePress(header.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 10));
  const QImage down = Image();
  QTest::mouseRelease(header.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 10));
  EXPECT_EQ(Image(), up);

  EXPECT_EQ(down.copy(101, 1, 79, 19), up.copy(100, 0, 79, 19));
  EXPECT_EQ(down.copy(182, 0, 18, 20), up.copy(182, 0, 18, 20));
}

}  // namespace
