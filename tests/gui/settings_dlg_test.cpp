#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gui/settings_dlg_fixture.h"
#include "support/ip_packet.h"

namespace {

constexpr char kPositive[] = "请输入一个正整数。";
constexpr char kInteger[] = "请输入一个整数。";
constexpr char kRange[] = "请输入 1 到 999 之间的整数。";

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

TEST_F(SettingsDlgTest, ShowsTheTextsAndListsInTheirOrder) {
  CSettingsDlg& dialog = OpenDialog();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Quorvel - 高级设置"));
  QStringList labels;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  for (const char* text : {"超过指定时间,自动清除空闲连接 (1-999)秒:", "单元:", "日志类型:", "日志文件(&F):", "MB"})
    EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
  QStringList groups;
  for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) groups << group->title();
  EXPECT_EQ(groups, (QStringList{" 列表设置 ", "查看流量日志"}));
  EXPECT_EQ(Ui().browse->text(), QStringLiteral("&浏览"));
  EXPECT_EQ(Ui().autoDelete->text(), QStringLiteral("自动删除日志文件,当总大小大于:"));
  EXPECT_EQ(Ui().autoStart->text(), QStringLiteral("程序运行后自动开始流量监控"));
  EXPECT_EQ(Ui().noPromiscuous->text(), QStringLiteral("不使用混杂模式"));
  EXPECT_EQ(Ui().ok->text(), QStringLiteral("确定"));
  EXPECT_EQ(Ui().cancel->text(), QStringLiteral("取消"));
  EXPECT_TRUE(Ui().ok->isDefault());
  EXPECT_EQ(Items(Ui().units), (QStringList{"bytes", "K/bytes", "M/bytes", "dynamic"}));
  EXPECT_EQ(Items(Ui().logType),
            (QStringList{"HEX + TEXT includes protocol header", "TEXT includes protocol header",
                         "HEX includes protocol header", "HEX + TEXT", "TEXT", "HEX", "Header Info Only", "CSV",
                         "CSV + HEX data"}));
}

// From the idle edit, which has the focus with its text selected, through
// the controls in the classic order: the non-promiscuous switch last.
TEST_F(SettingsDlgTest, TabWalksTheControlsInTheirOrder) {
  Store("[log]\nuselogfile=1\n");
  CSettingsDlg& dialog = OpenDialog();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), Ui().idleSeconds);
  EXPECT_EQ(Ui().idleSeconds->selectedText(), QStringLiteral("10"));
  const QWidget* expected[] = {Ui().units,    Ui().useLogFile, Ui().logType,   Ui().logFile,
                               Ui().browse,   Ui().autoDelete, Ui().megabytes, Ui().autoStart,
                               Ui().ok,       Ui().cancel,     Ui().noPromiscuous, Ui().idleSeconds};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << QApplication::focusWidget()->metaObject()->className();
  }
}

TEST_F(SettingsDlgTest, EditsTakeThreeDigitsAndNothingElse) {
  Store("[log]\nuselogfile=1\n");
  OpenDialog();
  for (QLineEdit* edit : {Ui().idleSeconds, Ui().megabytes}) {
    Retype(edit, QStringLiteral("1a-2 .34"));
    EXPECT_EQ(edit->text(), QStringLiteral("123"));
    EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  }
}

struct NumberCase {
  const char* typed;
  const char* idleMessage;  // null: accepted
  const char* megabytesMessage;
  std::uint32_t stored;     // the number, once accepted
};

// Both edits, through the settings command: a refused value keeps the
// dialog open with the focus on the edit and its text selected; an
// accepted one reaches the settings.
TEST_F(SettingsDlgTest, NumbersAreCheckedInControlOrder) {
  const NumberCase cases[] = {
      {"", kPositive, kInteger, 0},
      {"0", kRange, kRange, 0},
      {"1", nullptr, nullptr, 1},
      {"999", nullptr, nullptr, 999},
      {"1000", nullptr, nullptr, 100},  // a fourth digit cannot be typed
  };
  for (const bool idle : {true, false}) {
    for (const NumberCase& c : cases) {
      SCOPED_TRACE(std::string(idle ? "idle " : "MB ") + "\"" + c.typed + "\"");
      Store("[main]\nidleseconds=10\n[log]\nuselogfile=1\nmbdelete=1\nlogfile=" + (folder_ / "t.log").string() + "\n");
      const char* message = idle ? c.idleMessage : c.megabytesMessage;
      std::vector<std::string> shown;
      RunCommand([&](CSettingsDlg& dialog) {
        QLineEdit* edit = idle ? dialog.Ui().idleSeconds : dialog.Ui().megabytes;
        Retype(edit, QString::fromUtf8(c.typed));
        MessageBoxAnswerer answerer;
        QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
        shown = answerer.texts;
        EXPECT_EQ(dialog.isVisible(), message != nullptr);
        if (message == nullptr) return;
        EXPECT_EQ(dialog.focusWidget(), edit);
        EXPECT_EQ(edit->selectedText(), edit->text());
      });
      EXPECT_EQ(shown, message ? std::vector<std::string>{message} : std::vector<std::string>{});
      const bool stored = message == nullptr;
      EXPECT_EQ(Settings().idlemsec, stored && idle ? c.stored * 1000 : 10000u);
      EXPECT_EQ(Settings().mbdelete, stored && !idle ? static_cast<std::int32_t>(c.stored) : 1);
      EXPECT_EQ(Settings().logSizeLimit, static_cast<std::uint32_t>(Settings().mbdelete) << 20);
      ReloadSettings();
    }
  }
}

// A stored value the edit could not take by typing shows whole and is
// refused; the idle edit is read first, so its message comes alone.
TEST_F(SettingsDlgTest, StoredValueOutsideTheRangeIsRefusedAtOk) {
  Store("[main]\nidleseconds=1000\n");
  OpenDialog();
  Retype(Ui().megabytes, QString());
  EXPECT_EQ(Ui().idleSeconds->text(), QStringLiteral("1000"));
  MessageBoxAnswerer answerer;
  PressOk();
  EXPECT_EQ(answerer.texts, std::vector<std::string>{kRange});
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->focusWidget(), Ui().idleSeconds);
}

// The eight log controls follow the check box as the members last read
// say: with an invalid idle edit the check box changes but they do not.
TEST_F(SettingsDlgTest, LogControlsFollowTheCheckBoxOnlyWhenReadingBackSucceeds) {
  OpenDialog();
  const QWidget* logControls[] = {Ui().logTypeLabel, Ui().logType,    Ui().logFileLabel, Ui().logFile,
                                  Ui().browse,       Ui().autoDelete, Ui().megabytes,    Ui().megabytesLabel};
  auto enabled = [&](bool expected) {
    for (const QWidget* control : logControls) EXPECT_EQ(control->isEnabled(), expected) << control->metaObject()->className();
  };
  enabled(false);

  Retype(Ui().idleSeconds, QString());
  {
    MessageBoxAnswerer answerer;
    ClickUseLogFile();
    EXPECT_EQ(answerer.texts, std::vector<std::string>{kPositive});
  }
  EXPECT_TRUE(Ui().useLogFile->isChecked());
  enabled(false);
  EXPECT_EQ(dialog_->focusWidget(), Ui().idleSeconds);

  Retype(Ui().idleSeconds, QStringLiteral("5"));
  ClickUseLogFile();
  EXPECT_FALSE(Ui().useLogFile->isChecked());
  enabled(false);
  ClickUseLogFile();
  enabled(true);
  EXPECT_FALSE(Ui().autoDelete->isChecked()) << "the size switch does not govern the MB edit";
  EXPECT_TRUE(Ui().megabytes->isEnabled());

  // Emptied while enabled, the MB edit blocks the click that clears the
  // check box (which is read first, and so disables the controls), and OK.
  Retype(Ui().megabytes, QString());
  {
    MessageBoxAnswerer answerer;
    ClickUseLogFile();
    EXPECT_EQ(answerer.texts, std::vector<std::string>{kInteger});
  }
  enabled(false);
  MessageBoxAnswerer answerer;
  PressOk();
  EXPECT_EQ(answerer.texts, std::vector<std::string>{kInteger});
  EXPECT_TRUE(dialog_->isVisible());
}

// Every control reaches its setting, in the units the settings keep.
TEST_F(SettingsDlgTest, OkStoresEveryValue) {
  const std::filesystem::path logFile = folder_ / "traffic.log";
  RunCommand([&](CSettingsDlg& dialog) {
    const CSettingsDlg::Controls& ui = dialog.Ui();
    Retype(ui.idleSeconds, QStringLiteral("25"));
    ui.units->setCurrentIndex(2);
    ClickUseLogFile(dialog);
    ui.logType->setCurrentIndex(8);
    Retype(ui.logFile, QString::fromStdString(logFile.string()));
    ui.autoDelete->click();
    Retype(ui.megabytes, QStringLiteral("5"));
    ui.autoStart->click();
    ui.noPromiscuous->click();
    QTest::mouseClick(ui.ok, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
  });
  const CSettings& s = Settings();
  EXPECT_EQ(s.idlemsec, 25000u);
  EXPECT_EQ(s.units, 2);
  EXPECT_EQ(s.uselogfile, 1);
  EXPECT_EQ(s.logtype, 8);
  EXPECT_EQ(std::string(s.logfile), logFile.string());
  EXPECT_EQ(s.autodelete, 1);
  EXPECT_EQ(s.mbdelete, 5);
  EXPECT_EQ(s.logSizeLimit, 5u << 20);
  EXPECT_EQ(s.autostart, 1);
  EXPECT_EQ(s.nopromiscuous, 1);
  // Not monitoring: the new file was only made, as a test.
  EXPECT_TRUE(std::filesystem::exists(logFile));
  EXPECT_EQ(std::filesystem::file_size(logFile), 0u);
  EXPECT_FALSE(Log().IsOpen());
}

// A stored log type or unit outside its list selects nothing; OK stores -1.
TEST_F(SettingsDlgTest, ValueOutsideAListSelectsNothing) {
  Settings().units = 7;
  Settings().logtype = 9;
  RunCommand([&](CSettingsDlg& dialog) {
    EXPECT_EQ(dialog.Ui().units->currentIndex(), -1);
    EXPECT_EQ(dialog.Ui().logType->currentIndex(), -1);
    QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
  });
  EXPECT_EQ(Settings().units, -1);
  EXPECT_EQ(Settings().logtype, -1);
}

struct CancelCase {
  const char* name;
  std::function<void(CSettingsDlg&)> leave;
};

TEST_F(SettingsDlgTest, CancelEscapeAndTheCloseBoxStoreNothing) {
  const CancelCase cases[] = {
      {"Cancel", [](CSettingsDlg& d) { QTest::mouseClick(d.Ui().cancel, Qt::LeftButton); }},
      {"Escape", [](CSettingsDlg& d) { QTest::keyClick(d.Ui().idleSeconds, Qt::Key_Escape); }},
      {"close box", [](CSettingsDlg& d) { d.close(); }},
  };
  Store("[main]\nidleseconds=10\nunits=1\n[log]\nuselogfile=0\nmbdelete=3\nlogfile=/tmp/old.log\n");
  const std::filesystem::path typed = folder_ / "typed.log";
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunCommand([&](CSettingsDlg& dialog) {
      const CSettingsDlg::Controls& ui = dialog.Ui();
      Retype(ui.idleSeconds, QStringLiteral("77"));
      ui.units->setCurrentIndex(3);
      ClickUseLogFile(dialog);
      Retype(ui.logFile, QString::fromStdString(typed.string()));
      Retype(ui.megabytes, QStringLiteral("9"));
      ui.autoStart->click();
      c.leave(dialog);
      EXPECT_FALSE(dialog.isVisible());
      EXPECT_EQ(dialog.result(), QDialog::Rejected);
    });
    EXPECT_EQ(Settings().idlemsec, 10000u);
    EXPECT_EQ(Settings().units, 1);
    EXPECT_EQ(Settings().uselogfile, 0);
    EXPECT_EQ(Settings().mbdelete, 3);
    EXPECT_STREQ(Settings().logfile, "/tmp/old.log");
    EXPECT_EQ(Settings().autostart, 0);
    EXPECT_FALSE(std::filesystem::exists(typed));
  }
}

// The file dialog starts at the stored path, whatever was typed; a file
// chosen there comes into the edit with the default extension.
TEST_F(SettingsDlgTest, BrowseStartsAtTheStoredPathAndFillsInTheChoice) {
  const std::filesystem::path stored = folder_ / "stored.log";
  std::ofstream(stored) << "";
  Store("[log]\nuselogfile=1\nlogfile=" + stored.string() + "\n");
  OpenDialog();
  Retype(Ui().logFile, QStringLiteral("/somewhere/typed.log"));
  QString startedAt, defaultSuffix;
  QStringList filters;
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    mode = chooser->acceptMode();
    defaultSuffix = chooser->defaultSuffix();
    filters = chooser->nameFilters();
    startedAt = chooser->selectedFiles().value(0);
    chooser->selectFile(QString::fromStdString((folder_ / "chosen").string()));
    QMetaObject::invokeMethod(chooser, "accept");
  });
  QTest::mouseClick(Ui().browse, Qt::LeftButton);
  EXPECT_EQ(mode, QFileDialog::AcceptSave);
  EXPECT_EQ(startedAt.toStdString(), stored.string());
  EXPECT_EQ(defaultSuffix, QStringLiteral("log"));
  EXPECT_EQ(filters, (QStringList{"日志文件 (*.log)", "文本文件 (*.txt)", "所有文件 (*)"}));
  EXPECT_EQ(Ui().logFile->text().toStdString(), (folder_ / "chosen.log").string());
  EXPECT_FALSE(std::filesystem::exists(folder_ / "chosen.log")) << "browsing alone makes no file";
}

// A folder that does not exist: the message names the file, the dialog
// stays open, and Cancel then leaves the settings and the disk alone.
TEST_F(SettingsDlgTest, FileThatCannotBeWrittenKeepsTheDialogOpen) {
  Store("[log]\nuselogfile=1\nlogfile=/tmp/old.log\n");
  const std::filesystem::path missing = folder_ / "missing" / "traffic.log";
  RunCommand([&](CSettingsDlg& dialog) {
    Retype(dialog.Ui().logFile, QString::fromStdString(missing.string()));
    MessageBoxAnswerer answerer;
    QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
    EXPECT_EQ(answerer.texts,
              std::vector<std::string>{"文件写入失败 \"" + missing.string() + "\"!\n请重新指定一个正确的名称"});
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(dialog.Ui().cancel, Qt::LeftButton);
  });
  EXPECT_STREQ(Settings().logfile, "/tmp/old.log");
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
}

// A path of 4095 bytes, the longest Linux takes, is taken; one byte more is
// refused with its own message, before any file is tried.
TEST_F(SettingsDlgTest, LogPathUpToTheLinuxLimitIsTakenALongerOneRefused) {
  std::string longest = folder_.string();
  while (longest.size() + 1 + 200 < CSettingsDlg::kMaxLogPathBytes) longest += "/" + std::string(200, 'd');
  std::filesystem::create_directories(longest);
  longest += "/" + std::string(CSettingsDlg::kMaxLogPathBytes - longest.size() - 1, 'f');
  ASSERT_EQ(longest.size(), 4095u);

  RunCommand([&](CSettingsDlg& dialog) {
    ClickUseLogFile(dialog);
    // Pasted over the old path, as a path this long would be: typed key by
    // key it took most of the test's time.
    dialog.Ui().logFile->setFocus();
    dialog.Ui().logFile->selectAll();
    dialog.Ui().logFile->insert(QString::fromStdString(longest + "x"));
    MessageBoxAnswerer answerer;
    QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 1u);
    EXPECT_EQ(answerer.texts[0], "文件路径太长: 4096 字节, 最多允许 4095 字节.");
    EXPECT_EQ(dialog.focusWidget(), dialog.Ui().logFile);
    EXPECT_EQ(dialog.Ui().logFile->text().size(), 4096) << "the text is not cut";
    QTest::keyClick(dialog.Ui().logFile, Qt::Key_End);
    QTest::keyClick(dialog.Ui().logFile, Qt::Key_Backspace);
    QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_EQ(std::string(Settings().logfile), longest);
  EXPECT_TRUE(std::filesystem::exists(longest));
}

// Logging switched off closes an open log at once.
TEST_F(SettingsDlgTest, LogSwitchedOffClosesTheOpenLogAtOnce) {
  const std::filesystem::path logFile = folder_ / "open.log";
  Store("[log]\nuselogfile=1\nlogfile=" + logFile.string() + "\n");
  Log().OpenLog("a+");
  ASSERT_TRUE(Log().IsOpen());
  RunCommand([&](CSettingsDlg& dialog) {
    ClickUseLogFile(dialog);
    QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
  });
  EXPECT_FALSE(Log().IsOpen());
  EXPECT_EQ(Settings().uselogfile, 0);
}

// Logging switched off and on again with the same file during a capture:
// the log is open again at once, and the packets counted from then on are
// in the file.
TEST_F(SettingsDlgTest, LogSwitchedOffAndOnAgainWhileMonitoringOpensItAtOnce) {
  const std::filesystem::path logFile = folder_ / "open.log";
  Store("[log]\nuselogfile=1\nlogtype=7\nlogfile=" + logFile.string() + "\n");
  monitoring = true;
  Log().OpenLog("a+");
  ASSERT_TRUE(Log().IsOpen());
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "on again" : "off");
    RunCommand([&](CSettingsDlg& dialog) {
      ClickUseLogFile(dialog);
      QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
      EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_EQ(Log().IsOpen(), on);
    EXPECT_EQ(Settings().uselogfile, on ? 1 : 0);
  }
  const std::vector<std::uint8_t> packet = IpPacket{}.Bytes();
  Table().AccountPacket(packet.data(), packet.size());
  Log().CloseLog();
  std::ifstream written(logFile, std::ios::binary);
  const std::string log{std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()};
  EXPECT_NE(log.find(";10.0.0.1;1024;10.0.0.2;80\r\n"), std::string::npos) << log;
}

// The log on without a file name would log nothing: OK refuses it with the
// file message, whether the log was switched on now or was on already (an
// edited settings file), and whether a capture runs or not.
TEST_F(SettingsDlgTest, LogOnWithoutAFileNameIsRefused) {
  const struct {
    const char* name;
    const char* stored;
    bool clickToSwitchOn;
    bool monitoring;
  } cases[] = {
      {"switched on", "[log]\nuselogfile=0\n", true, false},
      {"switched on while monitoring", "[log]\nuselogfile=0\n", true, true},
      {"on already", "[log]\nuselogfile=1\n", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Store(c.stored);
    monitoring = c.monitoring;
    std::vector<std::string> shown;
    RunCommand([&](CSettingsDlg& dialog) {
      if (c.clickToSwitchOn) ClickUseLogFile(dialog);
      Retype(dialog.Ui().logFile, QString());
      MessageBoxAnswerer answerer;
      QTest::mouseClick(dialog.Ui().ok, Qt::LeftButton);
      shown = answerer.texts;
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_EQ(dialog.focusWidget(), dialog.Ui().logFile);
    });
    EXPECT_EQ(shown, std::vector<std::string>{"文件写入失败 \"\"!\n请重新指定一个正确的名称"});
    EXPECT_FALSE(Log().IsOpen());
    ReloadSettings();
  }
}

}  // namespace
