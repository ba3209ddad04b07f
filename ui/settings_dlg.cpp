#include "ui/settings_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>

#include "config/settings.h"
#include "log/packet_log.h"
#include "log/packet_log_file.h"
#include "table/traffic_list.h"
#include "ui/product.h"

namespace {

constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr std::int64_t kMinValue = 1, kMaxValue = 999;
constexpr int kNumberLength = 3;
constexpr int kFileEditCharacters = 34;

// In the order of the values they stand for.
const char* const kUnits[] = {
    QT_TRANSLATE_NOOP("CSettingsDlg", "bytes"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "K/bytes"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "M/bytes"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "dynamic"),
};
const char* const kLogTypes[] = {
    QT_TRANSLATE_NOOP("CSettingsDlg", "HEX + TEXT includes protocol header"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "TEXT includes protocol header"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "HEX includes protocol header"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "HEX + TEXT"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "TEXT"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "HEX"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "Header Info Only"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "CSV"),
    QT_TRANSLATE_NOOP("CSettingsDlg", "CSV + HEX data"),
};

// Room for three digits, right-aligned; nothing but up to three digits can
// be typed or pasted. A longer value from the settings file still shows
// whole (a length limit would cut it), so that OK can say what is wrong.
QLineEdit* NumberEdit() {
  auto* edit = new QLineEdit;
  edit->setAlignment(Qt::AlignRight);
  const QString digits = QStringLiteral("[0-9]{0,%1}").arg(kNumberLength);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(digits), edit));
  const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 4 * frame + 4);
  return edit;
}

QComboBox* FixedList(const char* const* items, int count) {
  auto* list = new QComboBox;
  for (int i = 0; i < count; ++i) list->addItem(CSettingsDlg::tr(items[i]));
  return list;
}

template <typename Box>
std::int32_t Checked(const Box* box) {
  return box->isChecked() ? 1 : 0;
}

}  // namespace

// A title and a close box, nothing to minimise or maximise.
CSettingsDlg::CSettingsDlg(CSettings& settings, CTrafficList& table, std::function<bool()> monitoring,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_settings(settings),
      m_table(table),
      m_monitoring(std::move(monitoring)) {
  setWindowTitle(tr("Quorvel - 高级设置"));
  BuildControls();
  SetTabOrder();
  // The group box would switch its controls with its check box; here only
  // the click's handler does, after reading the controls back.
  connect(m_ui.useLogFile, &QGroupBox::toggled, this, [this] { SetLogControlsEnabled(m_useLogFile != 0); });
  connect(m_ui.useLogFile, &QGroupBox::clicked, this, &CSettingsDlg::OnUseLogFileClicked);
  connect(m_ui.browse, &QPushButton::clicked, this, &CSettingsDlg::OnBrowse);
}

// The arrangement of the classic layout, in Qt layouts: the list settings
// in their group, the log controls in a group whose title is the log's
// check box, the two switches and the buttons below.
void CSettingsDlg::BuildControls() {
  m_ui.autoStart = new QCheckBox(tr("程序运行后自动开始流量监控"));
  m_ui.noPromiscuous = new QCheckBox(tr("不使用混杂模式"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildListGroup());
  layout->addWidget(BuildLogGroup());
  layout->addWidget(m_ui.autoStart);
  layout->addWidget(m_ui.noPromiscuous);
  layout->addLayout(BuildButtons());
  // Its size follows the font; the user cannot change it.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QGroupBox* CSettingsDlg::BuildListGroup() {
  m_ui.idleSeconds = NumberEdit();
  m_ui.units = FixedList(kUnits, std::size(kUnits));
  auto* group = new QGroupBox(tr(" 列表设置 "));
  auto* idleRow = new QHBoxLayout;
  idleRow->addWidget(new QLabel(tr("超过指定时间,自动清除空闲连接 (1-999)秒:")));
  idleRow->addStretch();
  idleRow->addWidget(m_ui.idleSeconds);
  auto* unitsRow = new QHBoxLayout;
  unitsRow->addWidget(new QLabel(tr("单元:")));
  unitsRow->addWidget(m_ui.units);
  unitsRow->addStretch();
  auto* rows = new QVBoxLayout(group);
  rows->addLayout(idleRow);
  rows->addLayout(unitsRow);
  return group;
}

QGroupBox* CSettingsDlg::BuildLogGroup() {
  m_ui.useLogFile = new QGroupBox(tr("查看流量日志"));
  m_ui.useLogFile->setCheckable(true);
  m_ui.logTypeLabel = new QLabel(tr("日志类型:"));
  m_ui.logType = FixedList(kLogTypes, std::size(kLogTypes));
  m_ui.logFileLabel = new QLabel(tr("日志文件(&F):"));
  m_ui.logFile = new QLineEdit;
  m_ui.logFile->setMinimumWidth(m_ui.logFile->fontMetrics().averageCharWidth() * kFileEditCharacters);
  m_ui.logFileLabel->setBuddy(m_ui.logFile);
  m_ui.browse = new QPushButton(tr("&浏览"));
  m_ui.browse->setAutoDefault(false);
  m_ui.autoDelete = new QCheckBox(tr("自动删除日志文件,当总大小大于:"));
  m_ui.megabytes = NumberEdit();
  m_ui.megabytesLabel = new QLabel(tr("MB"));
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(m_ui.autoDelete);
  sizeRow->addWidget(m_ui.megabytes);
  sizeRow->addWidget(m_ui.megabytesLabel);
  sizeRow->addStretch();
  auto* grid = new QGridLayout(m_ui.useLogFile);
  grid->addWidget(m_ui.logTypeLabel, 0, 0);
  grid->addWidget(m_ui.logType, 0, 1, 1, 2);
  grid->addWidget(m_ui.logFileLabel, 1, 0);
  grid->addWidget(m_ui.logFile, 1, 1);
  grid->addWidget(m_ui.browse, 1, 2);
  grid->addLayout(sizeRow, 2, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  return m_ui.useLogFile;
}

// In the order the desktop puts a dialog's buttons in.
QHBoxLayout* CSettingsDlg::BuildButtons() {
  m_ui.ok = new QPushButton(tr("确定"));
  m_ui.ok->setDefault(true);
  m_ui.cancel = new QPushButton(tr("取消"));
  connect(m_ui.ok, &QPushButton::clicked, this, &CSettingsDlg::accept);
  connect(m_ui.cancel, &QPushButton::clicked, this, &CSettingsDlg::reject);
  const int order = style()->styleHint(QStyle::SH_DialogButtonLayout);
  const bool cancelFirst = order == QDialogButtonBox::GnomeLayout || order == QDialogButtonBox::MacLayout;
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancelFirst ? m_ui.cancel : m_ui.ok);
  buttons->addWidget(cancelFirst ? m_ui.ok : m_ui.cancel);
  return buttons;
}

// The order of the classic template, in which "不使用混杂模式" comes last,
// after the buttons.
void CSettingsDlg::SetTabOrder() {
  QWidget* const order[] = {m_ui.idleSeconds, m_ui.units,     m_ui.useLogFile, m_ui.logType,
                            m_ui.logFile,     m_ui.browse,    m_ui.autoDelete, m_ui.megabytes,
                            m_ui.autoStart,   m_ui.ok,        m_ui.cancel,     m_ui.noPromiscuous};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void CSettingsDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_initialised) OnInitDialog();
}

void CSettingsDlg::OnInitDialog() {
  m_initialised = true;
  UpdateData(false);
  SetLogControlsEnabled(m_useLogFile != 0);
  m_ui.idleSeconds->setFocus();
  m_ui.idleSeconds->selectAll();
}

bool CSettingsDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_ui.idleSeconds->setText(QString::number(m_idleSeconds));
    m_ui.useLogFile->setChecked(m_useLogFile != 0);
    m_ui.logType->setCurrentIndex(m_logType);  // a value outside the list selects nothing
    m_ui.autoDelete->setChecked(m_autoDelete != 0);
    m_ui.megabytes->setText(QString::number(m_mbDelete));
    m_ui.logFile->setText(QString::fromStdString(m_logFile));
    m_ui.autoStart->setChecked(m_autoStart != 0);
    m_ui.units->setCurrentIndex(m_units);
    m_ui.noPromiscuous->setChecked(m_noPromiscuous != 0);
    return true;
  }
  std::int64_t number = 0;
  if (!ReadNumber(m_ui.idleSeconds, true, number)) return false;
  m_idleSeconds = static_cast<std::uint32_t>(number);
  m_useLogFile = Checked(m_ui.useLogFile);
  m_logType = m_ui.logType->currentIndex();
  m_autoDelete = Checked(m_ui.autoDelete);
  if (!ReadNumber(m_ui.megabytes, false, number)) return false;
  m_mbDelete = static_cast<std::int32_t>(number);
  if (!ReadLogFile()) return false;
  m_autoStart = Checked(m_ui.autoStart);
  m_units = m_ui.units->currentIndex();
  m_noPromiscuous = Checked(m_ui.noPromiscuous);
  return true;
}

// A number of 1 to 999. Only digits can be typed, so a text that is not a
// number is an empty one.
bool CSettingsDlg::ReadNumber(QLineEdit* edit, bool isUnsigned, std::int64_t& value) {
  bool isNumber = false;
  const QString text = edit->text().trimmed();
  value = text.toLongLong(&isNumber);
  if (!isNumber || (isUnsigned && text.startsWith(u'-'))) {
    RefuseEdit(edit, isUnsigned ? tr("请输入一个正整数。") : tr("请输入一个整数。"));
    return false;
  }
  if (value < kMinValue || value > kMaxValue) {
    RefuseEdit(edit, tr("请输入 %1 到 %2 之间的整数。").arg(kMinValue).arg(kMaxValue));
    return false;
  }
  return true;
}

// The settings keep the whole path; one they could not keep is refused,
// never cut short.
bool CSettingsDlg::ReadLogFile() {
  const QByteArray path = m_ui.logFile->text().toUtf8();
  if (path.size() > kMaxLogPathBytes) {
    RefuseEdit(m_ui.logFile, tr("文件路径太长: %1 字节, 最多允许 %2 字节.").arg(path.size()).arg(kMaxLogPathBytes));
    return false;
  }
  m_logFile = path.toStdString();
  return true;
}

void CSettingsDlg::RefuseEdit(QLineEdit* edit, const QString& message) {
  QMessageBox::warning(this, QString::fromUtf8(product::kName), message);
  edit->setFocus();
  edit->selectAll();
}

// The controls keep their state when reading back fails, whatever the
// check box shows now.
void CSettingsDlg::OnUseLogFileClicked() {
  UpdateData(true);
  SetLogControlsEnabled(m_useLogFile != 0);
}

void CSettingsDlg::SetLogControlsEnabled(bool enabled) {
  QWidget* const logControls[] = {m_ui.logTypeLabel, m_ui.logType,    m_ui.logFileLabel, m_ui.logFile,
                                  m_ui.browse,       m_ui.autoDelete, m_ui.megabytes,    m_ui.megabytesLabel};
  for (QWidget* control : logControls) control->setEnabled(enabled);
}

// The file dialog starts at the stored path, not at the one typed.
void CSettingsDlg::OnBrowse() {
  UpdateData(true);
  QFileDialog chooser(this);
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setFileMode(QFileDialog::AnyFile);
  // Records are appended to a file that exists: nothing is overwritten.
  chooser.setOption(QFileDialog::DontConfirmOverwrite);
  chooser.setDefaultSuffix(QStringLiteral("log"));
  chooser.setNameFilters({tr("日志文件 (*.log)"), tr("文本文件 (*.txt)"), tr("所有文件 (*)")});
  chooser.selectFile(QString::fromUtf8(m_settings.logfile));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  m_logFile = chooser.selectedFiles().front().toStdString();
  UpdateData(false);
}

void CSettingsDlg::accept() {
  if (!UpdateData(true)) return;
  CPacketLog* log = m_table.PacketLog();
  if (m_useLogFile == 0) {
    if (log != nullptr) log->CloseLog();  // at once, also while monitoring
  } else if (m_logFile != m_settings.logfile) {
    if (!OpenNewLogFile()) {
      QMessageBox failure(QMessageBox::Information, tr("警告"),
                          tr("文件写入失败 \"%1\"!\n请重新指定一个正确的名称").arg(QString::fromStdString(m_logFile)),
                          QMessageBox::Ok, this);
      failure.exec();
      return;
    }
  }
  // A log that is on with the stored name stays as it is: closed until the
  // next start of monitoring, or open.
  QDialog::accept();
}

// While monitoring the new file replaces the open log; otherwise it is
// only created, as a test that it can be written.
bool CSettingsDlg::OpenNewLogFile() const {
  if (m_logFile.find('\0') != std::string::npos) return false;
  if (CPacketLog* log = m_table.PacketLog()) return log->ReplaceLog(m_logFile.c_str(), m_monitoring()) == 0;
  return PacketLogFile::Open(m_logFile.c_str(), "a+") != nullptr;
}

void CSettingsDlg::LoadFrom(const CSettings& settings) {
  m_idleSeconds = settings.idlemsec / kMillisecondsPerSecond;
  m_useLogFile = settings.uselogfile;
  m_logType = settings.logtype;
  m_logFile = std::string(settings.logfile, strnlen(settings.logfile, sizeof settings.logfile));
  m_autoDelete = settings.autodelete;
  m_mbDelete = settings.mbdelete;
  m_autoStart = settings.autostart;
  m_noPromiscuous = settings.nopromiscuous;
  m_units = settings.units;
}

void CSettingsDlg::StoreInto(CSettings& settings, CTrafficList& table) const {
  settings.uselogfile = m_useLogFile;
  settings.logtype = m_logType;
  settings.idlemsec = m_idleSeconds * kMillisecondsPerSecond;
  {
    // The capture thread reads the path when it restarts a full log.
    std::lock_guard lock(table.TableLock());
    const std::size_t length = std::min(m_logFile.size(), sizeof settings.logfile - 1);
    std::memcpy(settings.logfile, m_logFile.data(), length);
    settings.logfile[length] = '\0';
  }
  settings.mbdelete = m_mbDelete;
  settings.UpdateLogSizeLimit();
  settings.autodelete = m_autoDelete;
  settings.autostart = m_autoStart;
  settings.nopromiscuous = m_noPromiscuous;
  settings.units = m_units;
}

void RunSettingsCommand(CSettings& settings, CTrafficList& table, const std::function<bool()>& monitoring,
                        QWidget* owner) {
  CSettingsDlg dialog(settings, table, monitoring, owner);
  dialog.LoadFrom(settings);
  if (dialog.exec() == QDialog::Accepted) dialog.StoreInto(settings, table);
}
