#pragma once

#include <QString>

class QWidget;

#include "ui/command_ids.h"

// The list view's side of the command table. The frame hands it the
// commands that concern the list once their rules allow them, and asks it
// for the state those rules read.
class ViewCommands {
 public:
  virtual ~ViewCommands() = default;

  // From a successful Start to the next Stop.
  virtual bool Monitoring() const = 0;
  virtual bool SortColumnSet() const = 0;
  // Rows are selected on the page shown.
  virtual bool RowsSelected() const { return false; }

  // Start, Stop, Pause, Clear, the three hide switches, Cancel sort and
  // the exports.
  virtual void OnCommand(CommandId id) = 0;

  // What the search box holds, as the user types it; empty: no search.
  // It narrows the list and the history alike.
  virtual void Search(const QString& text) = 0;

  // The page of closed connections beside the list; null for none. The
  // frame shows it on a tab of its own.
  virtual QWidget* HistoryPage() { return nullptr; }
  // The frame switched to the history's page, or back to the list.
  virtual void HistoryShown(bool /*shown*/) {}
};
