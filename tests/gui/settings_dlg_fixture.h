#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/temp_settings_file.h"
#include "log/packet_log.h"
#include "table/traffic_list.h"
#include "ui/settings_dlg.h"

// Answers every message box that opens while it lives, as a user would by
// reading it and pressing its button, and keeps their texts.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() {
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      texts.push_back(box->text().toStdString());
      box->accept();
    });
    m_poll.start(5);
  }

  std::vector<std::string> texts;

 private:
  QTimer m_poll;
};

// Types into an edit as a user would: selects its text and replaces it.
inline void Retype(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

// The settings dialog over settings of the test's own, with a table and a
// packet log beside them as the window has them.
class SettingsDlgTest : public TempSettingsFile {
 protected:
  ~SettingsDlgTest() override { dialog_.reset(); }

  CSettings& Settings() {
    if (!settings_) settings_.emplace(path_);
    return *settings_;
  }
  CTrafficList& Table() {
    if (!table_) {
      table_.emplace(Settings());
      log_.emplace(Settings(), table_->TableLock());
      table_->SetPacketLog(&*log_);
    }
    return *table_;
  }
  CPacketLog& Log() {
    Table();
    return *log_;
  }

  // Ends everything, the settings writing their file; the next Settings()
  // reads it again.
  void ReloadSettings() {
    dialog_.reset();
    log_.reset();
    table_.reset();
    settings_.reset();
  }

  // The dialog shown, filled from the settings as the settings command
  // fills it.
  CSettingsDlg& OpenDialog() {
    dialog_ = std::make_unique<CSettingsDlg>(Settings(), Table(), [this] { return monitoring; });
    dialog_->LoadFrom(Settings());
    dialog_->open();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    return *dialog_;
  }
  const CSettingsDlg::Controls& Ui() const { return dialog_->Ui(); }

  // The settings command as the menu runs it; `drive` acts on the dialog
  // once it shows. A dialog that `drive` left open is cancelled.
  void RunCommand(const std::function<void(CSettingsDlg&)>& drive) {
    QTimer::singleShot(0, [&] {
      auto* shown = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(shown, nullptr);
      drive(*shown);
      if (shown->isVisible()) shown->reject();
    });
    RunSettingsCommand(Settings(), Table(), [this] { return monitoring; }, nullptr);
  }

  void PressOk() { QTest::mouseClick(Ui().ok, Qt::LeftButton); }
  // Switches the log check box (the log group's title) as the keyboard does.
  static void ClickUseLogFile(const CSettingsDlg& dialog) {
    dialog.Ui().useLogFile->setFocus();
    QTest::keyClick(dialog.Ui().useLogFile, Qt::Key_Space);
  }
  void ClickUseLogFile() { ClickUseLogFile(*dialog_); }

  bool monitoring = false;
  std::unique_ptr<CSettingsDlg> dialog_;

 private:
  std::optional<CSettings> settings_;
  std::optional<CTrafficList> table_;
  std::optional<CPacketLog> log_;
};
