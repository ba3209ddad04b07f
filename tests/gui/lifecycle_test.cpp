#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <string>
#include <vector>

#include "config/temp_settings_file.h"
#include "platform/profile.h"

namespace {

// Every key the settings file holds after a normal exit, by section.
const std::vector<std::pair<std::string, std::vector<std::string>>> kAllKeys = {
    {"main",
     {"alwaysontop", "nsresolve", "portresolve", "adapternum", "units", "autostart", "nopromiscuous",
      "idleseconds"}},
    {"filters", {"filtertcp", "filterudp", "filtericmp"}},
    {"mainwindow", {"status", "top", "bottom", "left", "right"}},
    {"list",
     {"srcaddr", "destaddr", "srcport", "destport", "proto", "traffic", "packets", "bs", "abs", "process", "user",
      "showprocess", "showuser"}},
    {"log", {"uselogfile", "autodelete", "mbdelete", "logtype", "logfile"}},
};

// Runs a copy of the probe program in a folder of its own, so that its
// settings file (named after the program, beside it) is the test's.
class LifecycleTest : public TempSettingsFile {
 protected:
  LifecycleTest() {
    program_ = (folder_ / "quorvel").string();
    path_ = program_ + ".dat";
    std::filesystem::copy_file(QUORVEL_LIFECYCLE_PROBE, program_);
    process_.setProgram(QString::fromStdString(program_));
  }

  void Start(const char* action, const QStringList& arguments = {}) {
    process_.setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUORVEL_PROBE_ACTION"), QString::fromLatin1(action));
    process_.setProcessEnvironment(environment);
    process_.start();
    ASSERT_TRUE(process_.waitForStarted(10000));
  }

  void ExpectNormalEnd() {
    ASSERT_TRUE(process_.waitForFinished(30000));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0) << process_.readAllStandardError().toStdString();
  }

  std::string Key(const std::string& section, const std::string& key) const {
    return platform::GetPrivateProfileString(section, key, "<missing>", path_);
  }

  void ExpectEveryKeyWritten() const {
    for (const auto& [section, keys] : kAllKeys)
      for (const std::string& key : keys) EXPECT_NE(Key(section, key), "<missing>") << section << "/" << key;
  }

  struct StoredValue {
    const char* section;
    const char* key;
    const char* value;
  };
  void ExpectStored(std::initializer_list<StoredValue> values) const {
    for (const StoredValue& v : values) EXPECT_EQ(Key(v.section, v.key), v.value) << v.section << "/" << v.key;
  }

  std::string program_;
  QProcess process_;
};

TEST_F(LifecycleTest, NormalExitWritesEveryKeyAfterTheWindowStoredItsPlacement) {
  Start("close");
  ExpectNormalEnd();
  ExpectEveryKeyWritten();
  ExpectStored({{"mainwindow", "status", "1"},
                {"mainwindow", "left", "40"},
                {"mainwindow", "top", "50"},
                {"mainwindow", "right", "680"},
                {"mainwindow", "bottom", "450"},
                {"main", "adapternum", "1"}});
}

TEST_F(LifecycleTest, ExitWritesTheSettingsButKeepsThePreviousPlacement) {
  Store("[main]\nadapternum=0\nunits=2\n[mainwindow]\nstatus=3\nleft=10\ntop=20\nright=610\nbottom=420\n");
  Start("exit");
  ExpectNormalEnd();
  ExpectEveryKeyWritten();
  ExpectStored({{"main", "adapternum", "0"},
                {"main", "units", "2"},
                {"mainwindow", "status", "3"},
                {"mainwindow", "left", "10"},
                {"mainwindow", "top", "20"},
                {"mainwindow", "right", "610"},
                {"mainwindow", "bottom", "420"}});
}

// The About box and the settings dialog open over the window from the
// application's commands, with the application's icon as every window.
TEST_F(LifecycleTest, DialogsOpenOverTheWindowWithTheApplicationIcon) {
  Start("dialogs");
  ExpectNormalEnd();
  EXPECT_EQ(process_.readAllStandardOutput().toStdString(),
            "CAboutDlg child=1 icon=1\nCSettingsDlg child=1 icon=1\n");
}

// Start-up refuses a document it cannot open, after telling the user; the
// process still ends normally and saves the settings.
TEST_F(LifecycleTest, UnopenableDocumentEndsStartUpAfterAMessage) {
  const std::string missing = (folder_ / "no-such-document").string();
  Start("answer", {QString::fromStdString(missing)});
  ASSERT_TRUE(process_.waitForFinished(30000));
  EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process_.exitCode(), 1);
  EXPECT_NE(process_.readAllStandardOutput().toStdString().find(missing), std::string::npos);
  ExpectEveryKeyWritten();
}

TEST_F(LifecycleTest, KilledProcessWritesNothing) {
  const std::string before = "[main]\nunits=2\n";
  Store(before);
  Start("wait");
  ASSERT_TRUE(process_.waitForReadyRead(30000));
  ASSERT_EQ(process_.readLine().trimmed(), "ready");
  ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
  ASSERT_TRUE(process_.waitForFinished(10000));
  EXPECT_EQ(process_.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(Stored(), before);
}

// A logout, a shutdown or Ctrl+C ends the program as a close of its window
// does: the placement is recorded and everything saved, also while a
// dialog is open, which ends as if cancelled.
TEST_F(LifecycleTest, TerminationSignalsCloseTheWindowAndSaveEverything) {
  for (const char* action : {"wait", "wait in dialog"}) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(std::string(action) + " " + std::to_string(signal));
      Store("[main]\nunits=2\n");
      Start(action);
      ASSERT_TRUE(process_.waitForReadyRead(30000));
      ASSERT_EQ(process_.readLine().trimmed(), "ready");
      ::kill(static_cast<pid_t>(process_.processId()), signal);
      ExpectNormalEnd();
      ExpectEveryKeyWritten();
      ExpectStored({{"main", "units", "2"}, {"mainwindow", "status", "1"}});
    }
  }
}

}  // namespace
