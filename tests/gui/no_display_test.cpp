// The window's program where it has no display to open (over ssh, in a
// service): it says so and how to monitor without one, and ends with exit
// code 1, without a crash report. A platform named on purpose still works.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class NoDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "quorvel-no-display-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::copy_file(QUORVEL_WINDOW_PROGRAM, folder_ / "quorvel");
    process_.setProgram(QString::fromStdString((folder_ / "quorvel").string()));
  }
  void TearDown() override {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(10000);
    }
    fs::remove_all(folder_);
  }

  // This process's environment without any display, and then `extra`.
  void Start(const std::vector<std::pair<QString, QString>>& extra, const QStringList& arguments = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      environment.remove(QString::fromLatin1(name));
    for (const auto& [name, value] : extra) environment.insert(name, value);
    process_.setProcessEnvironment(environment);
    process_.setArguments(arguments);
    process_.start();
    ASSERT_TRUE(process_.waitForStarted(10000));
  }

  bool CrashReportWritten() const { return fs::exists(folder_ / "quorvel.RPT"); }

  fs::path folder_;
  QProcess process_;
};

TEST_F(NoDisplayTest, WithoutADisplayItSaysSoAndEndsWithoutACrashReport) {
  ASSERT_FALSE(fs::exists("/tmp/.X11-unix/X4711")) << "the display the test takes for absent is there";
  struct Case {
    const char* name;
    std::vector<std::pair<QString, QString>> environment;
    const char* named;  // the display the message names
  };
  const Case cases[] = {
      {"none set", {}, "没有设置 DISPLAY 或 WAYLAND_DISPLAY"},
      {"an X display that is not there", {{"DISPLAY", ":4711"}}, "DISPLAY=:4711"},
      {"a Wayland display that is not there", {{"WAYLAND_DISPLAY", "quorvel-test-absent"}},
       "WAYLAND_DISPLAY=quorvel-test-absent"},
      {"the X platform asked for without a display", {{"QT_QPA_PLATFORM", "xcb"}}, "没有设置 DISPLAY 或 WAYLAND_DISPLAY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.environment);
    ASSERT_TRUE(process_.waitForFinished(30000));
    const std::string error = process_.readAllStandardError().toStdString();
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 1) << error;
    EXPECT_NE(error.find("quorvel: 无法打开显示 ("), std::string::npos) << error;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_NE(error.find("quorvel-replay --live"), std::string::npos) << error;
    EXPECT_FALSE(CrashReportWritten());
    EXPECT_FALSE(fs::exists(folder_ / "quorvel.dat")) << "nothing of the program ran";
  }
}

// The offscreen platform, named either way, needs no display; the window
// runs until it is asked to end.
TEST_F(NoDisplayTest, APlatformNamedOnPurposeStillOpensTheWindow) {
  struct Case {
    const char* name;
    std::vector<std::pair<QString, QString>> environment;
    QStringList arguments;
  };
  const Case cases[] = {
      {"-platform", {}, {"-platform", "offscreen"}},
      {"--platform", {}, {"--platform", "offscreen"}},
      {"QT_QPA_PLATFORM", {{"QT_QPA_PLATFORM", "offscreen"}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.environment, c.arguments);
    EXPECT_FALSE(process_.waitForFinished(2000)) << process_.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    ASSERT_TRUE(process_.waitForFinished(30000));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0) << process_.readAllStandardError().toStdString();
    EXPECT_FALSE(CrashReportWritten());
  }
}

}  // namespace
