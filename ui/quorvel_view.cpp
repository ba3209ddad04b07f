#include "ui/quorvel_view.h"

#include <arpa/inet.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <algorithm>
#include <mutex>

#include "config/settings.h"
#include "filters/filter_manager.h"
#include "table/traffic_list.h"
#include "text/format_amount.h"
#include "ui/history_view.h"
#include "ui/owner_columns.h"
#include "ui/product.h"
#include "ui/rate_sample.h"
#include "ui/sort_header_ctrl.h"
#include "ui/view_export.h"
#include "ui/view_state_keeper.h"

namespace {

const char* const kHintSelectAdapter =
    QT_TRANSLATE_NOOP("CQuorvelView", "请从上方列表里选择一个网络适配器,再点击开始按钮以启动流量监控");
const char* const kHintNoPackets = QT_TRANSLATE_NOOP("CQuorvelView", "未发现数据包! 继续搜索中 ...");
const char* const kAdapterInUse = QT_TRANSLATE_NOOP("CQuorvelView", "该网络适配器已被另一个Quorvel的进程占用\n");
const char* const kRatesFormat = QT_TRANSLATE_NOOP("CQuorvelView", "当前: %1, 平均: %2");
const char* const kTotalsFormat = QT_TRANSLATE_NOOP("CQuorvelView", "全部数据包: %1, 数据: %2, 总流量: %3");
constexpr int kHintTop = 10;
constexpr int kMaxAdapterTextLength = 511;
// A pass over a long list holds the table a few milliseconds; the rates
// are read once it is free rather than by waiting for it.
constexpr int kRatesRetryMs = 20;

constexpr std::uint8_t kIcmp = 1, kTcp = 6, kUdp = 17;

QString AddressText(const IpAddress& address) {
  char text[IpAddress::kTextSize];
  return QString::fromLatin1(FormatIpAddress(address, text));
}

QString PortText(std::uint16_t portNetworkOrder) { return QString::number(ntohs(portNetworkOrder)); }

}  // namespace

CQuorvelView::CQuorvelView(AppContext context, ViewHost& host, QWidget* parent)
    : QTableView(parent),
      m_context(std::move(context)),
      m_host(host),
      m_packetLog(m_context.settings, m_context.trafficList.TableLock()),
      m_session(m_context.trafficList, m_context.settings, m_context.nameCache, m_context.services),
      m_filterCapture(
          m_session, [this] { return m_monitoring; },
          [this] { return m_host.SelectedAdapterDevice().toStdString(); }),
      m_header(new CSortHeaderCtrl(this)),
      m_ownerColumns(new COwnerColumns(*m_header, m_context.settings, this)),
      m_history(static_cast<std::size_t>(m_context.settings.historysize)),
      m_historyView(new CHistoryView(m_history, m_context.settings, m_context.nameCache, m_context.services)),
      m_export(new CViewExport(m_context.trafficList, *this, m_model, *m_historyView, m_host, *this)) {
  setHorizontalHeader(m_header);
  // A click on a header item sorts; it never selects the column's cells.
  disconnect(m_header, &QHeaderView::sectionPressed, this, nullptr);
  disconnect(m_header, &QHeaderView::sectionEntered, this, nullptr);
  connect(m_header, &QHeaderView::sectionClicked, this, &CQuorvelView::OnColumnClick);
  setModel(&m_model);
  new ViewStateKeeper(*this, m_model);
  CreateColumns();

  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setShowGrid(true);
  setWordWrap(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);

  m_context.trafficList.SetDisplay(&m_journal);
  m_context.trafficList.SetPacketLog(&m_packetLog);
  m_context.trafficList.SetClosedSink(&m_history);
  m_session.SetPacketLog(&m_packetLog);
  m_session.SetOwners(&m_owners);
  if (m_context.filters != nullptr) {
    m_session.SetFilters(m_context.filters);
    m_context.filters->SetCapture(&m_filterCapture);
  }

  QTableView& historyTable = m_historyView->Table();
  historyTable.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&historyTable, &QWidget::customContextMenuRequested, this, [this, &historyTable](const QPoint& at) {
    QMenu menu(this);
    AddExportActions(menu);
    menu.exec(historyTable.viewport()->mapToGlobal(at));
  });
  connect(&m_drainTimer, &QTimer::timeout, this, &CQuorvelView::Drain);
  m_drainTimer.start(kDrainPeriodMs);
  connect(&m_ratesTimer, &QTimer::timeout, this, &CQuorvelView::ShowRates);
  m_ratesClock.start();
}

// The frame is still whole here: it takes its view down first.
CQuorvelView::~CQuorvelView() {
  m_session.StopCapture();
  if (m_context.filters != nullptr) m_context.filters->SetCapture(nullptr);
  StoreColumnWidths();
  if (m_monitoring) {
    StopMonitoring();
    m_context.trafficList.RemoveAll();
    m_monitoring = false;
  }
  m_drainTimer.stop();
  m_ratesTimer.stop();
  // The table outlives the view; from now on it has no list to keep.
  m_journal.SetWindowGone();
  m_context.trafficList.SetDisplay(nullptr);
  m_context.trafficList.SetPacketLog(nullptr);
  m_context.trafficList.SetClosedSink(nullptr);
  delete m_historyView;  // its model reads the history, a member
  // The model is a member and goes before the table does.
  setModel(nullptr);
}

void CQuorvelView::CreateColumns() {
  const CSettings& s = m_context.settings;
  const int widths[TrafficDisplay::kColumnCount] = {s.srcaddr, s.srcport, s.destaddr, s.destport,
                                                    s.proto,   s.traffic, s.packets,  s.bs,
                                                    s.abs,     s.process, s.user};
  for (int column = 0; column < TrafficDisplay::kColumnCount; ++column)
    m_header->resizeSection(column, widths[column]);
  m_ownerColumns->Restore();
}

// By the column's own index, wherever the user has dragged it.
void CQuorvelView::StoreColumnWidths() {
  CSettings& s = m_context.settings;
  std::int32_t* const widths[TrafficDisplay::kColumnCount] = {&s.srcaddr, &s.srcport, &s.destaddr, &s.destport,
                                                              &s.proto,   &s.traffic, &s.packets,  &s.bs,
                                                              &s.abs,     &s.process, &s.user};
  // A hidden column keeps the width it will come back with.
  for (int column = 0; column < TrafficDisplay::kColumnCount; ++column)
    if (!m_header->isSectionHidden(column)) *widths[column] = m_header->sectionSize(column);
  m_ownerColumns->Store();
}

void CQuorvelView::OnCommand(CommandId id) {
  CSettings& s = m_context.settings;
  switch (id) {
    case ID_CAPTURE_START: StartMonitoring(); break;
    case ID_CAPTURE_STOP: StopMonitoring(); break;
    case ID_CAPTURE_PAUSE: s.paused = s.paused == 0 ? 1 : 0; break;
    case ID_EDIT_CLEAR_ALL:
      m_context.trafficList.RemoveAll();
      Drain();
      break;
    case ID_HIDE_TCP: ToggleHidden(s.filtertcp, kTcp); break;
    case ID_HIDE_UDP: ToggleHidden(s.filterudp, kUdp); break;
    case ID_HIDE_ICMP: ToggleHidden(s.filtericmp, kIcmp); break;
    case ID_EXPORT_LIST: m_export->Ask(CViewExport::Source::kList, m_historyShown); break;
    case ID_EXPORT_SELECTED: m_export->Ask(CViewExport::Source::kSelectedRows, m_historyShown); break;
    case ID_EXPORT_HISTORY: m_export->Ask(CViewExport::Source::kHistory, m_historyShown); break;
    case ID_CANCEL_SORT:
      // The rows keep the order they have now.
      m_sortColumn = -1;
      m_header->SetSortIndicator(-1, m_sortAscending);
      break;
    default: break;
  }
  if (m_model.rowCount() == 0) viewport()->update();  // the hint follows the switches
}

// Switching a protocol off again removes nothing and brings nothing back.
void CQuorvelView::ToggleHidden(std::atomic<std::int32_t>& hideSwitch, std::uint8_t protocol) {
  hideSwitch = hideSwitch == 0 ? 1 : 0;
  if (hideSwitch == 0) return;
  m_context.trafficList.RemoveProtocol(protocol);
  Drain();
}

void CQuorvelView::StartMonitoring() {
  const QString device = m_host.SelectedAdapterDevice();
  if (device.isEmpty()) return;
  const std::string deviceName = device.toStdString();

  // Where no lock can be made the capture goes ahead unguarded, and says
  // so: the guard only keeps two monitors apart, it is not worth refusing
  // to work.
  const platform::AdapterLock::Outcome lock = m_adapterLock.Acquire(deviceName);
  if (lock == platform::AdapterLock::Outcome::kInUse) {
    ShowAdapterInUse();
    return;
  }
  if (m_session.StartCapture(deviceName.c_str()) != 0) {
    // The user has been told why; the next Start tries the adapter again.
    m_adapterLock.Release();
    return;
  }
  m_monitoring = true;
  ShowTotals({0, 0, 0, m_context.settings.units});  // not the previous capture's
  if (lock == platform::AdapterLock::Outcome::kNoGuard) ShowAdapterUnguarded(deviceName);
  m_filterCapture.CaptureOpened(deviceName);
  m_health.Start();
  ShowHealthPanes();
  Drain();  // the rows of the previous capture go at once
  viewport()->update();
  m_ratesTimer.start(kRatesPeriodMs);
  m_rateMeter.Restart(m_ratesClock.elapsed());
  m_owners.WantOwners();  // so that the status bar can say how far it sees
  m_host.SetTitle(QString::fromUtf8(product::kTitle) + " - [" +
                  m_host.SelectedAdapterText().left(kMaxAdapterTextLength) + "]");
}

// The rows stay until the next Start or Clear; the rates pane keeps its
// last figures.
void CQuorvelView::StopMonitoring() {
  m_session.StopCapture();
  ShowCaptureHealth();  // the last count
  m_health.End();
  ShowHealthPanes();
  m_monitoring = false;
  m_ratesTimer.stop();
  m_adapterLock.Release();
  m_host.SetTitle(QString::fromUtf8(product::kTitle));
  Drain();
  viewport()->update();
}

void CQuorvelView::ShowAdapterInUse() {
  auto* box = new QMessageBox(QMessageBox::Critical, tr("错误"), tr(kAdapterInUse),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void CQuorvelView::ShowAdapterUnguarded(const std::string& device) {
  m_host.ShowStatusNotice(tr("无法建立网络适配器锁 %1: 本次监控不能发现另一个Quorvel的进程是否也在监控该适配器")
                               .arg(QString::fromStdString(platform::AdapterLockPath(device))));
}

// Once, after the first look at the owners.
void CQuorvelView::ShowAttributionLevel() {
  if (m_attributionShown || m_owners.Generation() == 0) return;
  m_attributionShown = true;
  m_host.ShowStatusNotice(
      COwnerColumns::LevelText(m_owners.Level(), QString::fromStdString(m_owners.LastError())));
}

void CQuorvelView::ShowRates() {
  ShowAttributionLevel();
  std::unique_lock lock(m_context.trafficList.TableLock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    QTimer::singleShot(kRatesRetryMs, this, [this] {
      if (m_monitoring) ShowRates();
    });
    return;
  }
  const CaptureTotals& totals = m_context.trafficList.Totals();
  const std::uint64_t current = totals.currentRate, average = totals.averageRate;
  const RateSample rate = m_rateMeter.Sample(totals.totalBytes, totals.sentBytes, m_ratesClock.elapsed());
  lock.unlock();
  const int units = m_context.settings.units;
  m_host.ShowRate(rate, units);
  m_host.SetRatesText(tr(kRatesFormat)
                           .arg(QString::fromUtf8(FormatAmount(current, 1, 1, units)),
                                QString::fromUtf8(FormatAmount(average, 1, 1, units))));
}

void CQuorvelView::ShowTotals(const JournalBatch::Totals& totals) {
  m_host.SetStatusText(tr(kTotalsFormat)
                          .arg(QString::number(totals.packets),
                               QString::fromUtf8(FormatAmount(totals.dataBytes, 1, 0, totals.units)),
                               QString::fromUtf8(FormatAmount(totals.totalBytes, 1, 0, totals.units))));
  // The empty list's hint tells whether packets were counted.
  if (m_countedPackets != totals.packets && m_model.rowCount() == 0) viewport()->update();
  m_countedPackets = totals.packets;
}

void CQuorvelView::Search(const QString& text) {
  m_searchText = text;
  const RowSearch search(text);
  m_model.SetSearch(search);
  m_historyView->Search(search);
  ShowSearchCount();
  viewport()->update();  // the empty list's hint follows the search
}

QWidget* CQuorvelView::HistoryPage() { return m_historyView; }

void CQuorvelView::HistoryShown(bool shown) {
  m_historyShown = shown;
  ShowSearchCount();
}

// Of the page shown.
void CQuorvelView::ShowSearchCount() {
  if (!m_historyView) return;  // the window is going
  const CHistoryModel& history = m_historyView->Model();
  const bool searching = m_model.Searching();
  const int shown = m_historyShown ? history.rowCount() : m_model.rowCount();
  const int total = m_historyShown ? history.TotalRowCount() : m_model.TotalRowCount();
  m_host.SetSearchCountText(searching ? tr("%1 / %2 行").arg(shown).arg(total) : QString());
}

void CQuorvelView::Drain() {
  // A capture that ended by itself (its helper was ended) has told the
  // user; the window stops monitoring, and Start works again.
  if (m_monitoring && m_session.EndedUnexpectedly()) StopMonitoring();
  ShowCaptureHealth();
  // The frame's tabs may have taken the history page down already.
  if (m_historyView) m_historyView->Refresh();
  m_journal.Take(m_batch);
  if (!m_batch.Empty()) {
    m_model.Apply(m_batch);
    if (m_batch.hasTotals) ShowTotals(m_batch.totals);
    if (m_batch.redraw) viewport()->update();
  }
  // Emptied at once, not at the next drain: until then the journal fills
  // the other batch, and the two would hold a pass's operations each.
  m_batch.Clear();
  if (m_model.Searching()) ShowSearchCount();
}

// The drops pane counts what was lost since Start, and the log's pane the
// records its writer could not keep; the adapter pane and the empty list's
// hint say what ails the adapter, and when it is back.
void CQuorvelView::ShowCaptureHealth() {
  const auto now = CaptureHealthWatch::Clock::now();
  const bool changed = m_health.Update(m_session.Health(), now);
  if (m_health.UpdateLogLoss(m_packetLog.LostRecords(), now) || changed) ShowHealthPanes();
}

void CQuorvelView::ShowHealthPanes() {
  m_host.ShowDrops(m_health.Drops(), m_health.DropsRising());
  m_host.ShowLogLoss(m_health.LogLoss(), m_health.LogLossRising());
  switch (m_health.AdapterState()) {
    case CaptureHealthWatch::Adapter::kFailing:
      m_host.SetAdapterText(tr("网络适配器出错: %1").arg(QString::fromStdString(m_health.AdapterError())), true);
      break;
    case CaptureHealthWatch::Adapter::kBack: m_host.SetAdapterText(tr("网络适配器已恢复"), false); break;
    case CaptureHealthWatch::Adapter::kFine: m_host.SetAdapterText(QString(), false); break;
  }
  if (m_model.rowCount() == 0) viewport()->update();
}

void CQuorvelView::OnColumnClick(int column) {
  const bool ascending = column == m_sortColumn ? !m_sortAscending : true;
  SortByColumn(column, ascending);
}

// Sorted once: rows that come later join at the end, and rows keep their
// places when their figures change, until the next click.
void CQuorvelView::SortByColumn(int column, bool ascending) {
  m_sortColumn = column;
  m_sortAscending = ascending;
  m_header->SetSortIndicator(column, ascending);
  Drain();
  m_model.Sort(column, ascending, m_context.settings.units);
}

// The empty list says why it is empty: a search that matches none of its
// rows, no packet yet, or packets whose connections went idle or were
// cleared, or a pause that keeps new ones out; and which protocols are
// hidden, whose packets are not counted.
QString CQuorvelView::HintText() const {
  if (m_model.Searching() && m_model.TotalRowCount() > 0)
    return tr("没有连接与搜索 \"%1\" 匹配").arg(m_searchText.simplified());
  if (!m_monitoring) return tr(kHintSelectAdapter);
  if (m_health.AdapterState() == CaptureHealthWatch::Adapter::kFailing)
    return tr("网络适配器出错: %1\n正在等待它恢复 ...").arg(QString::fromStdString(m_health.AdapterError()));
  const CSettings& s = m_context.settings;
  QString hint;
  if (s.paused != 0)
    hint = tr("监控已暂停: 继续后才会显示新的连接 (已统计数据包: %1)。").arg(m_countedPackets);
  else if (m_countedPackets == 0)
    hint = tr(kHintNoPackets);
  else
    hint = tr("已统计数据包: %1。它们的连接已空闲超时或已被清空。继续搜索中 ...").arg(m_countedPackets);
  QStringList hidden;
  if (s.filtertcp != 0) hidden << QStringLiteral("TCP");
  if (s.filterudp != 0) hidden << QStringLiteral("UDP");
  if (s.filtericmp != 0) hidden << QStringLiteral("ICMP");
  if (!hidden.isEmpty()) hint += '\n' + tr("隐藏的协议既不显示也不计数: %1").arg(hidden.join(QLatin1String(", ")));
  return hint;
}

void CQuorvelView::paintEvent(QPaintEvent* event) {
  if (m_model.rowCount() > 0) {
    QTableView::paintEvent(event);
    return;
  }
  // The viewport starts below the header already.
  QPainter painter(viewport());
  QRect area = viewport()->rect();
  area.setTop(kHintTop);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextDontClip, HintText());
}

// Ctrl+C copies the selected rows as the menu's "copy selected lines"
// does, not the one cell the table would copy.
void CQuorvelView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    CopySelectedLines();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void CQuorvelView::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = CreateContextMenu();
  if (menu) menu->exec(event->globalPos());
}

// The menu always offers the numbers, also where the list shows names.
std::unique_ptr<QMenu> CQuorvelView::CreateContextMenu() {
  const QModelIndexList selected = selectionModel()->selectedRows();
  if (selected.isEmpty()) return nullptr;
  const int row = std::min_element(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) {
                    return a.row() < b.row();
                  })->row();
  const ConnectionEndpoints& endpoints = m_model.EndpointsAt(row);
  m_sourceAddressText = AddressText(endpoints.source);
  m_sourcePortText = PortText(endpoints.sourcePort);
  m_destinationAddressText = AddressText(endpoints.destination);
  m_destinationPortText = PortText(endpoints.destinationPort);
  m_programText = QString::fromStdString(m_model.CellText(row, TrafficDisplay::kProcessColumn));
  m_userText = QString::fromStdString(m_model.CellText(row, TrafficDisplay::kUserColumn));

  auto menu = std::make_unique<QMenu>(this);
  menu->addAction(tr("复制源地址: ") + m_sourceAddressText, this,
                  [this] { CopyToClipboard(m_sourceAddressText); });
  menu->addAction(tr("复制源端口: ") + m_sourcePortText, this,
                  [this] { CopyToClipboard(m_sourcePortText); });
  menu->addSeparator();
  menu->addAction(tr("复制目标地址: ") + m_destinationAddressText, this,
                  [this] { CopyToClipboard(m_destinationAddressText); });
  menu->addAction(tr("复制目标端口: ") + m_destinationPortText, this,
                  [this] { CopyToClipboard(m_destinationPortText); });
  menu->addSeparator();
  // An owner not known has nothing to copy.
  if (!m_programText.isEmpty())
    menu->addAction(tr("复制进程: ") + m_programText, this, [this] { CopyToClipboard(m_programText); });
  if (!m_userText.isEmpty())
    menu->addAction(tr("复制用户: ") + m_userText, this, [this] { CopyToClipboard(m_userText); });
  if (!m_programText.isEmpty() || !m_userText.isEmpty()) menu->addSeparator();
  menu->addAction(tr("复制选中的行"), this, &CQuorvelView::CopySelectedLines);
  AddExportActions(*menu);
  return menu;
}

bool CQuorvelView::RowsSelected() const { return m_export->RowsSelected(m_historyShown); }

// The list's context menu and the history's offer the exports too.
void CQuorvelView::AddExportActions(QMenu& menu) {
  menu.addSeparator();
  menu.addAction(tr("导出选中的行 ..."), this, [this] { OnCommand(ID_EXPORT_SELECTED); });
  menu.addAction(tr("导出列表 ..."), this, [this] { OnCommand(ID_EXPORT_LIST); });
  menu.addAction(tr("导出历史 ..."), this, [this] { OnCommand(ID_EXPORT_HISTORY); });
}

void CQuorvelView::CopySelectedLines() {
  QModelIndexList selected = selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QString text;
  for (const QModelIndex& index : selected) {
    const ConnectionEndpoints& endpoints = m_model.EndpointsAt(index.row());
    text += AddressText(endpoints.source) + '\t' + PortText(endpoints.sourcePort) + '\t' +
            AddressText(endpoints.destination) + '\t' + PortText(endpoints.destinationPort) + QStringLiteral("\r\n");
  }
  if (!text.isEmpty()) CopyToClipboard(text);
}

void CQuorvelView::CopyToClipboard(const QString& text) {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
}
