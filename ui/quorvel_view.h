#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QTimer>
#include <memory>
#include <string>

#include "capture/capture_session.h"
#include "capture/session_filter_capture.h"
#include "log/packet_log.h"
#include "platform/adapter_lock.h"
#include "process/owner_refresher.h"
#include "table/connection_history.h"
#include "ui/app_context.h"
#include "ui/capture_health_watch.h"
#include "ui/history_view.h"
#include "ui/rate_meter.h"
#include "ui/traffic_journal.h"
#include "ui/traffic_model.h"
#include "ui/view_commands.h"
#include "ui/view_host.h"

class COwnerColumns;
class CViewExport;
class CSortHeaderCtrl;
class QMenu;

// The traffic list in the main window's client area: one row per live
// connection. It owns what the user does with the list: starting,
// stopping and pausing monitoring, clearing, hiding a protocol, sorting,
// copying, and the hint and rates that surround it.
//
// The capture thread writes into the journal; a timer on this thread
// brings the journal's operations into the model several times a second.
class CQuorvelView : public QTableView, public ViewCommands {
  Q_OBJECT

 public:
  static constexpr int kDrainPeriodMs = 100;
  static constexpr int kRatesPeriodMs = 1000;

  CQuorvelView(AppContext context, ViewHost& host, QWidget* parent = nullptr);
  ~CQuorvelView() override;

  bool Monitoring() const override { return m_monitoring; }
  bool SortColumnSet() const override { return m_sortColumn >= 0; }
  bool RowsSelected() const override;
  void OnCommand(CommandId id) override;
  // Narrows the list and the history to the rows that match; counting
  // goes on unchanged.
  void Search(const QString& text) override;
  QWidget* HistoryPage() override;
  void HistoryShown(bool shown) override;

  void StartMonitoring();
  void StopMonitoring();

  // What a click on a column's header does.
  void OnColumnClick(int column);
  void SortByColumn(int column, bool ascending);
  int SortColumn() const { return m_sortColumn; }

  // The menu a right click opens, for the selected row with the lowest
  // index; null when no row is selected.
  std::unique_ptr<QMenu> CreateContextMenu();
  void CopySelectedLines();

  // What the empty list shows.
  QString HintText() const;

  // Brings what the capture side did into the list now.
  void Drain();

  CTrafficModel& Model() { return m_model; }
  CHistoryView& History() { return *m_historyView; }
  CViewExport& Export() { return *m_export; }
  CSortHeaderCtrl& Header() const { return *m_header; }
  CaptureSession& Session() { return m_session; }
  CPacketLog& PacketLog() { return m_packetLog; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateColumns();
  void StoreColumnWidths();
  void ToggleHidden(std::atomic<std::int32_t>& hideSwitch, std::uint8_t protocol);
  void ShowRates();
  void ShowTotals(const JournalBatch::Totals& totals);
  void ShowCaptureHealth();
  void ShowHealthPanes();
  void ShowAdapterInUse();
  void ShowAdapterUnguarded(const std::string& device);
  void ShowAttributionLevel();
  void ShowSearchCount();
  void CopyToClipboard(const QString& text);
  void AddExportActions(QMenu& menu);

  AppContext m_context;
  ViewHost& m_host;
  CTrafficModel m_model;
  CTrafficJournal m_journal;
  JournalBatch m_batch;  // the journal's operations while they are applied
  CPacketLog m_packetLog;
  COwnerRefresher m_owners;  // outlives the capture that looks owners up in it
  CaptureSession m_session;
  SessionFilterCapture m_filterCapture;  // the filter store's way to m_session
  CaptureHealthWatch m_health;
  CSortHeaderCtrl* m_header;  // owned by the table
  COwnerColumns* m_ownerColumns;  // owned by the view
  bool m_attributionShown = false;  // the status bar said it once
  platform::AdapterLock m_adapterLock;
  QTimer m_drainTimer;
  QTimer m_ratesTimer;
  QElapsedTimer m_ratesClock;
  RateMeter m_rateMeter;
  bool m_monitoring = false;
  std::uint32_t m_countedPackets = 0;  // as the status bar's totals show them
  int m_sortColumn = -1;
  bool m_sortAscending = false;
  QString m_searchText;  // as typed
  // Where the connections that leave the list go; the table reports to it
  // from the constructor to the destructor.
  CConnectionHistory m_history;
  QPointer<CHistoryView> m_historyView;  // on the frame's tab while it has one
  bool m_historyShown = false;
  CViewExport* m_export;  // a child of the view
  // The connection of the last context menu, as its copy commands copy it.
  QString m_sourceAddressText;
  QString m_sourcePortText;
  QString m_destinationAddressText;
  QString m_destinationPortText;
  QString m_programText;
  QString m_userText;
};
