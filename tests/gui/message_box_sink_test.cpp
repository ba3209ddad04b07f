#include "ui/message_box_sink.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <thread>

namespace {

QMessageBox* ShownMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

// The capture thread asks for the box; it gets control back at once, and
// the box appears on the window's thread with the caption and icon of its
// kind, without an owner and without holding that thread either.
TEST(MessageBoxSink, CaptureThreadMessagesShowOnTheWindowThread) {
  struct Case {
    platform::MessageKind kind;
    const char* caption;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {{platform::MessageKind::kError, "错误", QMessageBox::Critical},
                        {platform::MessageKind::kWarning, "警告", QMessageBox::Information}};
  CMessageBoxSink sink;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    std::thread capture([&] { sink.ShowMessage(c.kind, {"无法打开适配器 %1\r\n第二行", {"eth0"}}); });
    capture.join();
    EXPECT_EQ(ShownMessageBox(), nullptr);

    QMessageBox* box = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (box = ShownMessageBox()) != nullptr; }, 5000));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle().toStdString(), c.caption);
    EXPECT_EQ(box->icon(), c.icon);
    EXPECT_EQ(box->text().toStdString(), "无法打开适配器 eth0\n第二行");
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_FALSE(box->isModal());
    box->close();
    QApplication::processEvents();
  }
}

}  // namespace
