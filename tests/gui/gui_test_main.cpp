#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

// The window tests need an application object and no display: they run on
// the offscreen platform unless told otherwise.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
