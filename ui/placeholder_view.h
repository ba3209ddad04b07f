#pragma once

#include <QWidget>

#include "ui/view_commands.h"

// Fills the client area while no traffic list is attached: it never
// monitors and has no sort, so the list's commands have nothing to act on.
class CPlaceholderView : public QWidget, public ViewCommands {
  Q_OBJECT

 public:
  explicit CPlaceholderView(QWidget* parent = nullptr);

  bool Monitoring() const override { return false; }
  bool SortColumnSet() const override { return false; }
  void OnCommand(CommandId) override {}
};
