#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class CSettings;
class CTrafficList;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// The dialog of the settings that have no command of their own: idle time,
// unit, packet log, starting by itself and non-promiscuous capture. It works
// on its members; the settings command fills them from the settings and
// stores them back after OK. Only OK's change of the log file takes effect
// while the dialog closes: the log is closed, or the new file opened.
class CSettingsDlg : public QDialog {
  Q_OBJECT

 public:
  // The longest log path a Linux system accepts, in bytes.
  static constexpr int kMaxLogPathBytes = 4095;

  // `table` holds the packet log OK closes or replaces; `monitoring` tells
  // OK whether a capture runs.
  CSettingsDlg(CSettings& settings, CTrafficList& table, std::function<bool()> monitoring,
               QWidget* parent = nullptr);

  // Exchanged with the controls; the settings command sets them all.
  std::uint32_t m_idleSeconds = 0;
  std::int32_t m_useLogFile = 0;
  std::int32_t m_logType = 0;
  std::int32_t m_autoDelete = 0;
  std::int32_t m_mbDelete = 0;
  std::string m_logFile;  // as the settings keep it: UTF-8 bytes
  std::int32_t m_autoStart = 0;
  std::int32_t m_units = -1;
  std::int32_t m_noPromiscuous = 0;

  // true: the controls into the members, in the order of the controls,
  // checking the two numbers and the path's length; stops at the first
  // control that fails, after telling the user and selecting its text, and
  // returns false. false: the members into the controls.
  bool UpdateData(bool saveAndValidate = true);

  // The settings command's two halves: the members from the settings
  // before the dialog shows, and into them, in this order, after OK.
  void LoadFrom(const CSettings& settings);
  void StoreInto(CSettings& settings, CTrafficList& table) const;

  struct Controls {
    QLineEdit* idleSeconds;
    QComboBox* units;
    QGroupBox* useLogFile;  // its check box is the log group's title
    QLabel* logTypeLabel;
    QComboBox* logType;
    QLabel* logFileLabel;
    QLineEdit* logFile;
    QPushButton* browse;
    QCheckBox* autoDelete;
    QLineEdit* megabytes;
    QLabel* megabytesLabel;
    QCheckBox* autoStart;
    QCheckBox* noPromiscuous;
    QPushButton* ok;
    QPushButton* cancel;
  };
  const Controls& Ui() const { return m_ui; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  QGroupBox* BuildListGroup();
  QGroupBox* BuildLogGroup();
  QHBoxLayout* BuildButtons();
  void SetTabOrder();
  void OnInitDialog();
  void OnUseLogFileClicked();
  void OnBrowse();
  void SetLogControlsEnabled(bool enabled);
  bool ReadNumber(QLineEdit* edit, bool isUnsigned, std::int64_t& value);
  bool ReadLogFile();
  void RefuseEdit(QLineEdit* edit, const QString& message);
  bool OpenNewLogFile() const;

  CSettings& m_settings;
  CTrafficList& m_table;
  std::function<bool()> m_monitoring;
  Controls m_ui{};
  bool m_initialised = false;
};

// The settings command: the dialog over `owner`, filled from the settings;
// after OK its values are stored back.
void RunSettingsCommand(CSettings& settings, CTrafficList& table, const std::function<bool()>& monitoring,
                        QWidget* owner);
