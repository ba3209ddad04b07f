#pragma once

#include <QString>

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

  // Start, Stop, Pause, Clear, the three hide switches and Cancel sort.
  virtual void OnCommand(CommandId id) = 0;

  // What the search box holds, as the user types it; empty: no search.
  virtual void Search(const QString& text) = 0;
};
