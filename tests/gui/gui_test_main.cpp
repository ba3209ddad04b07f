#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

// The window tests need an application object and no display: they run on
// the offscreen platform unless told otherwise. Without a session's runtime
// folder they get one of their own, so that the adapter locks of their
// monitors go there and leave nothing behind.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The window's texts are checked in Chinese, the language they are
  // written in, unless a test loads another; programs the tests start
  // are told the same.
  setenv("QUORVEL_LANG", "zh", 1);
  std::string runtime;
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    std::string pattern = std::filesystem::temp_directory_path() / "quorvel-runtime-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) runtime = pattern;
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  int result = 0;
  {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    result = RUN_ALL_TESTS();
  }
  if (!runtime.empty()) std::filesystem::remove_all(runtime);
  return result;
}
