#include "ui/main_frame.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QWindow>
#include <algorithm>

#include "config/settings.h"
#include "ui/settings_dlg.h"
#include "filters/filter_manager.h"
#include "platform/app_files.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "ui/command_actions.h"
#include "ui/command_table.h"
#include "ui/filters_setup_dlg.h"
#include "ui/language.h"
#include "ui/product.h"
#include "ui/rate_chart.h"
#include "ui/search_box.h"
#include "ui/settings_dlg.h"
#include "ui/tray_icon.h"
#include "ui/view_commands.h"

namespace {

const char* const kIdleText = QT_TRANSLATE_NOOP("CMainFrame", "准备就绪");
const char* const kInitialRates = QT_TRANSLATE_NOOP("CMainFrame", "b/s: 0   平均 b/s: 0");
constexpr char kHelpDocument[] = "Quorvel.html";
// Wide enough for the nine columns at their first widths.
constexpr QSize kDefaultSize(880, 540);

// A pane that speaks only when it has something to say, and stands out in
// the colours of a selection (whatever the theme) when it is urgent.
QLabel* NewHealthPane() {
  auto* pane = new QLabel;
  pane->setBackgroundRole(QPalette::Highlight);
  pane->hide();
  return pane;
}

void ShowOnPane(QLabel& pane, const QString& text, bool highlighted) {
  pane.setText(text);
  pane.setAutoFillBackground(highlighted);
  pane.setForegroundRole(highlighted ? QPalette::HighlightedText : QPalette::WindowText);
  pane.setVisible(!text.isEmpty());
}

// What a health pane says; empty while it is hidden.
QString ShownText(const QLabel& pane) { return pane.isHidden() ? QString() : pane.text(); }

}  // namespace

CMainFrame::CMainFrame(AppContext context, QWidget* parent)
    : QMainWindow(parent), m_context(std::move(context)) {
  setWindowTitle(QString::fromUtf8(product::kTitle));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quorvel.svg")));
  ApplyStoredPlacement();

  m_actions = std::make_unique<CommandActions>(*this, [this](int id) { ExecuteCommand(id); });
  m_actions->FillMenuBar(*menuBar(), [this] { UpdateCommandStates(); });
  BuildStatusBar();
  BuildToolBar();
  FillAdapterList();
  m_adapterSelector->setCurrentIndex(m_context.settings.adapternum);

  ApplyAlwaysOnTop();
  m_context.nameCache.SetResolve(m_context.settings.nsresolve);
  m_context.services.SetResolve(m_context.settings.portresolve);
  if (m_context.settings.autostart != 0) PostCommand(ID_CAPTURE_START);

  // Only where a tray is there to bring the window back; closing the
  // window ends the program either way.
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    m_tray = std::make_unique<CTrayIcon>(*this, [this](int id) { ExecuteCommand(id); });
    m_tray->Icon().show();
  }

  connect(&m_idleUpdate, &QTimer::timeout, this, [this] {
    UpdateCommandStates();
    UpdateStatePanes();
  });
  m_idleUpdate.start(kIdleUpdateMs);
  UpdateCommandStates();
}

// The view goes first, while the frame it reports to is still whole: it
// stops a running capture and stores its column widths as it ends.
CMainFrame::~CMainFrame() { delete takeCentralWidget(); }

void CMainFrame::SetView(QWidget* widget, ViewCommands* commands) {
  m_view = commands;
  QWidget* history = commands != nullptr ? commands->HistoryPage() : nullptr;
  if (history == nullptr) {
    setCentralWidget(widget);
    UpdateCommandStates();
    return;
  }
  m_pages = new QTabWidget;
  m_pages->setObjectName(QStringLiteral("pages"));
  m_pages->setDocumentMode(true);
  m_pages->addTab(widget, tr("连接"));
  m_pages->addTab(history, tr("历史"));
  connect(m_pages, &QTabWidget::currentChanged, this, [this, history](int) {
    if (m_view != nullptr) m_view->HistoryShown(m_pages->currentWidget() == history);
  });
  setCentralWidget(m_pages);
  UpdateCommandStates();
}

void CMainFrame::BuildStatusBar() {
  m_pausePane = NewHealthPane();
  m_pausePane->setObjectName(QStringLiteral("pausePane"));
  m_filtersPane = NewHealthPane();
  m_filtersPane->setObjectName(QStringLiteral("filtersPane"));
  m_messagePane = new QLabel(tr(kIdleText));
  m_ratesPane = new QLabel(tr(kInitialRates));
  // 200 px wide, and wider when the rates need it: in bytes a busy link's
  // rates would otherwise lose their ends.
  m_ratesPane->setMinimumWidth(kRatesPaneWidth);
  m_adapterPane = NewHealthPane();
  m_dropsPane = NewHealthPane();
  m_logLossPane = NewHealthPane();
  m_searchCountPane = NewHealthPane();
  m_searchCountPane->setObjectName(QStringLiteral("searchCountPane"));
  statusBar()->addWidget(m_pausePane);
  statusBar()->addWidget(m_messagePane, 1);
  statusBar()->addPermanentWidget(m_searchCountPane);
  statusBar()->addPermanentWidget(m_filtersPane);
  statusBar()->addPermanentWidget(m_adapterPane);
  statusBar()->addPermanentWidget(m_dropsPane);
  statusBar()->addPermanentWidget(m_logLossPane);
  m_rateChart = new CRateChart;
  statusBar()->addPermanentWidget(m_rateChart);
  statusBar()->addPermanentWidget(m_ratesPane);
  // Once a prompt has gone, the pane says the window is ready again unless
  // a capture runs, whose totals then stay in view.
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
    if (message.isEmpty() && !(m_view != nullptr && m_view->Monitoring())) SetStatusText(tr(kIdleText));
  });
}

void CMainFrame::BuildToolBar() {
  m_toolBar = addToolBar(QStringLiteral("toolbar"));
  m_toolBar->setObjectName(QStringLiteral("toolbar"));
  m_toolBar->setMovable(true);

  const CommandEntry& selectorTexts = *FindCommand(IDC_ADAPTER_SELECTOR);
  m_adapterSelector = new QComboBox;
  m_adapterSelector->setObjectName(QStringLiteral("adapterSelector"));
  m_adapterSelector->setFixedWidth(kAdapterSelectorWidth);
  m_adapterSelector->setFont(statusBar()->font());
  m_adapterSelector->setToolTip(CommandText(selectorTexts.tooltip));
  m_adapterSelector->setStatusTip(CommandText(selectorTexts.prompt));
  m_actions->FillToolBar(*m_toolBar, *m_adapterSelector);
  BuildSearchBox();
}

// On a row of its own below the buttons, which already fill the window's
// first width: at the end of their row it would go into the toolbar's
// overflow menu. It shows and hides with the toolbar, and Ctrl+F finds it
// also while they are hidden: it shows them again.
void CMainFrame::BuildSearchBox() {
  m_searchBox = new CSearchBox;
  addToolBarBreak();
  m_searchBar = addToolBar(QStringLiteral("search"));
  m_searchBar->setObjectName(QStringLiteral("searchBar"));
  m_searchBar->addWidget(m_searchBox);
  connect(m_searchBox, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (m_view != nullptr) m_view->Search(text);
  });
  connect(m_searchBox, &CSearchBox::leaveRequested, this, [this] {
    QWidget* page = m_pages != nullptr ? m_pages->currentWidget() : centralWidget();
    if (page != nullptr) page->setFocus(Qt::OtherFocusReason);
  });
  auto* find = new QAction(this);
  find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(find, &QAction::triggered, this, [this] {
    if (m_toolBar->isHidden()) OnFrameCommand(ID_VIEW_TOOLBAR);
    m_searchBox->TakeFocus();
  });
  addAction(find);
}

// The open list is made wide enough for its longest entry, so that no
// adapter's description is cut off even though the box itself is narrow.
int CMainFrame::FillAdapterList() {
  const QFontMetrics metrics(m_adapterSelector->view()->font());
  int widest = 0;
  for (const AdapterItem& item : m_context.findAdapters()) {
    const QString text = QString::fromStdString(item.text);
    m_adapterSelector->addItem(text, QString::fromStdString(item.deviceName));
    widest = std::max(widest, metrics.horizontalAdvance(text));
  }
  widest = std::max(widest, m_adapterSelector->view()->sizeHintForColumn(0));
  const QStyle* style = m_adapterSelector->style();
  m_adapterSelector->view()->setMinimumWidth(widest +
                                             2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                                             style->pixelMetric(QStyle::PM_ScrollBarExtent));
  return m_adapterSelector->count();
}

QString CMainFrame::SelectedAdapterDevice() const { return m_adapterSelector->currentData().toString(); }

QString CMainFrame::SelectedAdapterText() const { return m_adapterSelector->currentText(); }

bool CMainFrame::SelectAdapter(const QString& device) {
  const int index = m_adapterSelector->findData(device);
  if (index < 0) return false;
  m_adapterSelector->setCurrentIndex(index);
  return true;
}

void CMainFrame::SetStatusText(const QString& text) { m_messagePane->setText(text); }
QString CMainFrame::StatusText() const { return m_messagePane->text(); }
void CMainFrame::ShowStatusNotice(const QString& text) { statusBar()->showMessage(text, kStatusNoticeMs); }
void CMainFrame::SetRatesText(const QString& text) { m_ratesPane->setText(text); }

void CMainFrame::ShowRate(const RateSample& rate, int units) {
  m_rateChart->AddSample(rate, units);
  if (m_tray) m_tray->ShowRate(m_rateChart->Samples(), units);
}
QString CMainFrame::RatesText() const { return m_ratesPane->text(); }

void CMainFrame::SetAdapterText(const QString& text, bool alert) { ShowOnPane(*m_adapterPane, text, alert); }
QString CMainFrame::AdapterText() const { return ShownText(*m_adapterPane); }

void CMainFrame::ShowDrops(std::uint64_t count, bool rising) {
  ShowOnPane(*m_dropsPane, count == 0 ? QString() : tr("丢包: %1").arg(count), rising);
}
QString CMainFrame::DropsText() const { return ShownText(*m_dropsPane); }
bool CMainFrame::DropsHighlighted() const { return !m_dropsPane->isHidden() && m_dropsPane->autoFillBackground(); }

void CMainFrame::ShowLogLoss(std::uint64_t count, bool rising) {
  ShowOnPane(*m_logLossPane, count == 0 ? QString() : tr("日志丢失 %1 条").arg(count), rising);
}
QString CMainFrame::LogLossText() const { return ShownText(*m_logLossPane); }

void CMainFrame::SetSearchCountText(const QString& text) { ShowOnPane(*m_searchCountPane, text, false); }
QString CMainFrame::SearchCountText() const { return ShownText(*m_searchCountPane); }

QAction* CMainFrame::Action(int id) const { return m_actions->Action(id); }

ScreenMetrics CMainFrame::CurrentScreenMetrics() const {
  ScreenMetrics metrics;
  if (const QScreen* primary = QGuiApplication::primaryScreen()) metrics.workArea = primary->availableGeometry();
  for (const QScreen* screen : QGuiApplication::screens()) metrics.workAreas.push_back(screen->availableGeometry());
  return metrics;
}

void CMainFrame::ApplyStoredPlacement() {
  const CSettings& s = m_context.settings;
  const ScreenMetrics metrics = CurrentScreenMetrics();
  const auto restored = RestorePlacement({s.status, s.left, s.top, s.right, s.bottom}, metrics);
  if (!restored) {
    resize(kDefaultSize.boundedTo(metrics.workArea.size().isEmpty() ? kDefaultSize
                                                                     : metrics.workArea.size()));
    return;
  }
  setGeometry(restored->geometry);
  if (restored->state != Qt::WindowNoState) setWindowState(restored->state);
}

void CMainFrame::StorePlacement() {
  const StoredPlacement p = RecordPlacement(windowState(), normalGeometry(), CurrentScreenMetrics().workArea);
  CSettings& s = m_context.settings;
  s.status = p.status;
  s.left = p.left;
  s.top = p.top;
  s.right = p.right;
  s.bottom = p.bottom;
  s.adapternum = m_adapterSelector->currentIndex();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Exit leaves the placement of the previous close request in the settings.
  if (!m_exiting) StorePlacement();
  event->accept();
  m_idleUpdate.stop();
  emit windowClosed();
}

// Re-creating the native window, which changing the flags through the
// widget does, would hide the window for a moment and may lose its place;
// the window system can change this one flag in place.
void CMainFrame::ApplyAlwaysOnTop() {
  const bool onTop = m_context.settings.alwaysontop != 0;
  if (QWindow* window = windowHandle()) {
    overrideWindowFlags(windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop));
    window->setFlag(Qt::WindowStaysOnTopHint, onTop);
  } else {
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  }
}

CommandContext CMainFrame::CurrentContext() const {
  const CSettings& s = m_context.settings;
  CommandContext c;
  c.monitoring = m_view != nullptr && m_view->Monitoring();
  c.sortColumnSet = m_view != nullptr && m_view->SortColumnSet();
  c.rowsSelected = m_view != nullptr && m_view->RowsSelected();
  c.paused = s.paused != 0;
  c.hideTcp = s.filtertcp != 0;
  c.hideUdp = s.filterudp != 0;
  c.hideIcmp = s.filtericmp != 0;
  c.alwaysOnTop = s.alwaysontop != 0;
  c.resolveAddresses = s.nsresolve != 0;
  c.resolvePorts = s.portresolve != 0;
  c.toolbarShown = !m_toolBar->isHidden();
  c.statusBarShown = !statusBar()->isHidden();
  return c;
}

// Beside the totals, whether they stand still; beside the rates, the
// capture filters that keep packets out of both, the expression they make
// in the pane's tip.
void CMainFrame::UpdateStatePanes() {
  const bool monitoring = m_view != nullptr && m_view->Monitoring();
  ShowOnPane(*m_pausePane, monitoring && m_context.settings.paused != 0 ? tr("已暂停") : QString(), false);
  const CFilterManager* filters = m_context.filters;
  const std::size_t inForce = monitoring && filters != nullptr ? filters->FiltersInForce() : 0;
  ShowOnPane(*m_filtersPane, inForce == 0 ? QString() : tr("过滤器: %1").arg(inForce), false);
  m_filtersPane->setToolTip(inForce == 0 ? QString() : QString::fromStdString(filters->ExpressionInForce()));
}

CommandState CMainFrame::CommandStateOf(int id) const { return EvaluateCommand(id, CurrentContext()); }

void CMainFrame::UpdateCommandStates() {
  const CommandContext context = CurrentContext();
  m_actions->Apply([&context](int id) { return EvaluateCommand(id, context); });
  if (m_tray) m_tray->SetPaused(context.paused, EvaluateCommand(ID_CAPTURE_PAUSE, context).enabled);
}

void CMainFrame::PostCommand(int id) {
  QMetaObject::invokeMethod(this, [this, id] { ExecuteCommand(id); }, Qt::QueuedConnection);
}

void CMainFrame::ExecuteCommand(int id) {
  const CommandEntry* command = FindCommand(id);
  if (command != nullptr && CommandStateOf(id).enabled) {
    switch (command->handler) {
      case CommandHandler::kView:
        if (m_view != nullptr) m_view->OnCommand(static_cast<CommandId>(id));
        break;
      case CommandHandler::kFrame: OnFrameCommand(id); break;
      case CommandHandler::kApp: emit appCommand(id); break;
      case CommandHandler::kNone: break;
    }
  }
  // A checkable action flips its own mark when triggered, even when the
  // command was refused; the rules put it right at once.
  UpdateCommandStates();
  UpdateStatePanes();
}

void CMainFrame::OnFrameCommand(int id) {
  CSettings& s = m_context.settings;
  switch (id) {
    case ID_QUIT:
      m_exiting = true;
      close();
      break;
    case ID_VIEW_TOOLBAR:
      m_searchBar->setVisible(m_toolBar->isHidden());
      m_toolBar->setVisible(m_toolBar->isHidden());
      break;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(statusBar()->isHidden()); break;
    case ID_ALWAYS_ON_TOP:
      s.alwaysontop = !s.alwaysontop;
      ApplyAlwaysOnTop();
      break;
    case ID_RESOLVE_ADDRESSES:
      s.nsresolve = !s.nsresolve;
      m_context.nameCache.SetResolve(s.nsresolve);
      break;
    case ID_RESOLVE_PORTS:
      s.portresolve = !s.portresolve;
      m_context.services.SetResolve(s.portresolve);
      break;
    case ID_HELP_DOCUMENT: OnHelpDocument(); break;
    case ID_SETTINGS:
      RunSettingsCommand(s, m_context.trafficList, [this] { return m_view != nullptr && m_view->Monitoring(); }, this);
      break;
    case ID_FILTER_SETUP: OnFilterSetup(); break;
    default: break;
  }
}

void CMainFrame::OnFilterSetup() {
  if (m_context.filters == nullptr) return;
  CFiltersSetupDlg dialog(*m_context.filters, m_context.openDocument, this);
  dialog.exec();
}

void CMainFrame::OnHelpDocument() {
  m_context.openDocument(HelpPagePath(kHelpDocument));
}
