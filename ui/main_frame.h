#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "ui/app_context.h"
#include "ui/command_rules.h"
#include "ui/view_host.h"
#include "ui/window_placement.h"

class CRateChart;
class CSearchBox;
class CTrayIcon;
class CommandActions;
class QAction;
class QComboBox;
class QLabel;
class QTabWidget;
class QToolBar;
class ViewCommands;

// The main window: menu bar, toolbar with the adapter selector, status bar
// and the list view in the client area. It restores the placement stored in
// the settings when it is built and records it again on a close request;
// it routes every command, after checking its rule, to the view, to itself
// or to the application.
class CMainFrame : public QMainWindow, public ViewHost {
  Q_OBJECT

 public:
  static constexpr int kAdapterSelectorWidth = 250;
  static constexpr int kRatesPaneWidth = 200;
  static constexpr int kIdleUpdateMs = 200;
  static constexpr int kStatusNoticeMs = 15000;

  explicit CMainFrame(AppContext context, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The list view: `widget` fills the client area (the frame takes it over),
  // `commands` handles the list's commands; usually the same object. When
  // the view has a history page, the list and the history are two tabs.
  void SetView(QWidget* widget, ViewCommands* commands);
  // The tabs of the list and the history; null without a history.
  QTabWidget* Pages() const { return m_pages; }

  // Carries the command out if its rule allows it now; otherwise ignores it.
  void ExecuteCommand(int id);
  // Carries the command out once the event loop gets to it, by the rule in
  // force then.
  void PostCommand(int id);
  // Sets every action's enabled and checked state from its rule.
  void UpdateCommandStates();
  // Shows the panes that say what holds the figures: a pause, the capture
  // filters in force.
  void UpdateStatePanes();
  CommandState CommandStateOf(int id) const;

  QAction* Action(int id) const;
  QComboBox* AdapterSelector() const { return m_adapterSelector; }
  QString SelectedAdapterDevice() const override;
  QString SelectedAdapterText() const override;
  void SetTitle(const QString& title) override { setWindowTitle(title); }
  // Selects the adapter with that device name; false when there is none.
  bool SelectAdapter(const QString& device);

  // Pane 0 (see ViewHost). Menu and toolbar prompts cover it while the
  // pointer rests on an item.
  void SetStatusText(const QString& text) override;
  QString StatusText() const;
  void ShowStatusNotice(const QString& text) override;
  void SetRatesText(const QString& text) override;
  void ShowRate(const RateSample& rate, int units) override;
  CRateChart* RateChart() const { return m_rateChart; }
  // Null where the desktop has no tray.
  CTrayIcon* Tray() const { return m_tray.get(); }
  QString RatesText() const;
  // The panes left of the rates.
  void SetAdapterText(const QString& text, bool alert) override;
  QString AdapterText() const;  // empty while hidden
  void ShowDrops(std::uint64_t count, bool rising) override;
  QString DropsText() const;  // empty while hidden
  bool DropsHighlighted() const;
  void ShowLogLoss(std::uint64_t count, bool rising) override;
  QString LogLossText() const;  // empty while hidden
  void SetSearchCountText(const QString& text) override;
  QString SearchCountText() const;  // empty while hidden
  CSearchBox* SearchBox() const { return m_searchBox; }

 signals:
  // A command the application carries out (the About box).
  void appCommand(int id);
  // The window was closed, by a close request or by Exit.
  void windowClosed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // No menu of its own for the bars: the View menu shows and hides them.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  void ApplyStoredPlacement();
  void StorePlacement();
  ScreenMetrics CurrentScreenMetrics() const;
  void BuildToolBar();
  void BuildSearchBox();
  void BuildStatusBar();
  int FillAdapterList();
  void ApplyAlwaysOnTop();
  CommandContext CurrentContext() const;
  void OnFrameCommand(int id);
  void OnHelpDocument();
  void OnFilterSetup();

  AppContext m_context;
  std::unique_ptr<CommandActions> m_actions;
  QToolBar* m_toolBar = nullptr;
  QToolBar* m_searchBar = nullptr;
  QComboBox* m_adapterSelector = nullptr;
  CSearchBox* m_searchBox = nullptr;
  QLabel* m_pausePane = nullptr;
  QLabel* m_filtersPane = nullptr;
  QLabel* m_messagePane = nullptr;
  QLabel* m_ratesPane = nullptr;
  CRateChart* m_rateChart = nullptr;
  std::unique_ptr<CTrayIcon> m_tray;
  QLabel* m_adapterPane = nullptr;
  QLabel* m_dropsPane = nullptr;
  QLabel* m_logLossPane = nullptr;
  QLabel* m_searchCountPane = nullptr;
  ViewCommands* m_view = nullptr;
  QTabWidget* m_pages = nullptr;  // owned by the window
  QTimer m_idleUpdate;
  bool m_exiting = false;
};
