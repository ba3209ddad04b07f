#include "ui/about_dlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "ui/my_hyper_link.h"
#include "ui/product.h"

namespace {

// The About box shown as the application shows it, with an opener that
// only records the addresses it was given.
class AboutTest : public ::testing::Test {
 protected:
  AboutTest() : about([this](const QString& url) {
    opened.push_back(url.toStdString());
    return opens;
  }) {
    about.open();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&about));
  }

  CMyHyperLink& Link() { return about.Link(); }
  // How many of the link's pixels have the colour; its underline alone
  // gives one per pixel of its width.
  int PixelsOf(const QColor& colour) {
    const QImage image = Link().grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == colour ? 1 : 0;
    return count;
  }
  // A point on the box's own surface, away from its controls.
  QPoint Surface() const { return QPoint(3, about.height() / 2); }

  std::vector<std::string> opened;
  bool opens = true;  // whether a browser took the address
  CAboutDlg about;
};

TEST_F(AboutTest, ShowsIconNameSiteVersionAndButtonWithoutCaption) {
  EXPECT_TRUE(about.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(about.isModal());
  QStringList texts;
  for (const QLabel* label : about.findChildren<QLabel*>()) {
    if (label->pixmap().isNull())
      texts << label->text();
    else
      EXPECT_GE(label->pixmap().width(), 32);
  }
  EXPECT_TRUE(texts.contains(QStringLiteral("Quorvel")));
  EXPECT_TRUE(texts.contains(QStringLiteral("官方网站:")));
  EXPECT_TRUE(texts.contains(QString::fromUtf8(product::kWebSite)));
  EXPECT_TRUE(texts.filter(QStringLiteral("版本 3.0, 构建于 20")).size() == 1) << texts.join('|').toStdString();
  EXPECT_EQ(about.OkButton().text(), QStringLiteral("确定"));
  EXPECT_FALSE(about.OkButton().isDefault());
}

TEST_F(AboutTest, LinkIsBlueAndUnderlinedAndTakesTheHighlightUnderThePointer) {
  const CMyHyperLink& link = Link();
  EXPECT_EQ(link.Url().toStdString(), product::kWebSite);
  EXPECT_EQ(link.toolTip(), link.Url());
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(link.font().underline());
  EXPECT_EQ(link.width(), link.sizeHint().width()) << "only the text is the link";

  const QColor blue(0, 0, 238), highlight = about.palette().color(QPalette::Highlight);
  ASSERT_NE(highlight, blue);
  EXPECT_GE(PixelsOf(blue), link.width() / 2);
  EXPECT_EQ(PixelsOf(highlight), 0);

  QTest::mouseMove(&Link(), Link().rect().center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Link().Over(); }));
  EXPECT_GE(PixelsOf(highlight), link.width() / 2);
  EXPECT_EQ(PixelsOf(blue), 0);

  QTest::mouseMove(&about, Surface());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Link().Over(); }));
  EXPECT_GE(PixelsOf(blue), link.width() / 2);
}

TEST_F(AboutTest, ClickOpensTheAddressAndTheLinkTurnsBlueAgain) {
  QTest::mouseMove(&Link(), Link().rect().center());
  QTest::mouseClick(&Link(), Qt::LeftButton, {}, Link().rect().center());
  EXPECT_EQ(opened, std::vector<std::string>{product::kWebSite});
  EXPECT_FALSE(Link().Over());
  EXPECT_TRUE(about.isVisible()) << "the box stays open";
}

// Without a browser the click says so, over the box, and the box stays.
TEST_F(AboutTest, AddressNoBrowserTakesIsSaidInABox) {
  for (const bool browser : {true, false}) {
    SCOPED_TRACE(browser);
    opens = browser;
    QTest::mouseClick(&Link(), Qt::LeftButton, {}, Link().rect().center());
    QApplication::processEvents();
    auto* box = about.findChild<QMessageBox*>();
    ASSERT_EQ(box != nullptr, !browser);
    if (box == nullptr) continue;
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().contains(QString::fromUtf8(product::kWebSite))) << box->text().toStdString();
    box->close();
    QApplication::processEvents();
    EXPECT_TRUE(about.isVisible());
  }
}

TEST_F(AboutTest, RightClickMenuVisitsOrCopiesExactlyTheAddress) {
  const std::unique_ptr<QMenu> menu = Link().CreateContextMenu();
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0]->text(), QStringLiteral("访问该网址"));
  EXPECT_EQ(items[1]->text(), QStringLiteral("复制网址到剪贴板"));

  QGuiApplication::clipboard()->setText(QStringLiteral("something else\n"));
  items[1]->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), product::kWebSite);
  EXPECT_TRUE(opened.empty());
  items[0]->trigger();
  EXPECT_EQ(opened, std::vector<std::string>{product::kWebSite});
}

TEST_F(AboutTest, SingleLeftClickOnTheSurfaceKeepsItOpen) {
  QTest::mouseClick(&about, Qt::LeftButton, {}, Surface());
  EXPECT_TRUE(about.isVisible());
}

struct CloseCase {
  const char* name;
  std::function<void(CAboutDlg&, QPoint)> act;
};

TEST(AboutCloseTest, RightClickDoubleClickButtonEnterAndEscapeCloseIt) {
  const CloseCase cases[] = {
      {"right click", [](CAboutDlg& d, QPoint p) { QTest::mouseClick(&d, Qt::RightButton, {}, p); }},
      {"double click", [](CAboutDlg& d, QPoint p) { QTest::mouseDClick(&d, Qt::LeftButton, {}, p); }},
      {"button", [](CAboutDlg& d, QPoint) { QTest::mouseClick(&d.OkButton(), Qt::LeftButton); }},
      {"Enter", [](CAboutDlg& d, QPoint) { QTest::keyClick(&d, Qt::Key_Return); }},
      {"keypad Enter", [](CAboutDlg& d, QPoint) { QTest::keyClick(&d, Qt::Key_Enter, Qt::KeypadModifier); }},
      {"Escape", [](CAboutDlg& d, QPoint) { QTest::keyClick(&d, Qt::Key_Escape); }},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    CAboutDlg about([](const QString&) { return true; });
    about.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    c.act(about, QPoint(3, about.height() / 2));
    EXPECT_FALSE(about.isVisible());
  }
}

}  // namespace
