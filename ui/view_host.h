#pragma once

#include <QString>
#include <cstdint>

#include "ui/rate_sample.h"

// The window around the list view, as the view sees it: the adapter the
// user chose, the title, and the status bar's panes. The main frame is one;
// the view knows nothing else of it.
class ViewHost {
 public:
  // The device name of the selected adapter; empty when none is selected.
  virtual QString SelectedAdapterDevice() const = 0;
  // What the adapter selector shows for the selected adapter.
  virtual QString SelectedAdapterText() const = 0;
  virtual void SetTitle(const QString& title) = 0;

  // Pane 0: the idle text, later the capture totals.
  virtual void SetStatusText(const QString& text) = 0;
  // A notice that covers pane 0 for a while.
  virtual void ShowStatusNotice(const QString& text) = 0;
  // Pane 1: current and average rate.
  virtual void SetRatesText(const QString& text) = 0;
  // The capture's rate received and sent, once a second, for the rate's
  // chart and the tray; `units` as the settings choose them.
  virtual void ShowRate(const RateSample& /*rate*/, int /*units*/) {}
  // What ails the adapter, or that it is back; hidden while `text` is
  // empty. An alert is highlighted.
  virtual void SetAdapterText(const QString& text, bool alert) = 0;
  // The packets lost since Start; hidden while there are none,
  // highlighted while the count still rises.
  virtual void ShowDrops(std::uint64_t count, bool rising) = 0;
  // The packet log's records lost since Start; hidden at 0.
  virtual void ShowLogLoss(std::uint64_t count, bool rising) = 0;
  // How many rows a search lets through of how many; hidden while `text`
  // is empty.
  virtual void SetSearchCountText(const QString& text) = 0;

 protected:
  ~ViewHost() = default;
};
