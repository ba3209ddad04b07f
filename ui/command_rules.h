#pragma once

#include "ui/command_ids.h"

// What the enable and check rules of the commands depend on, gathered at the
// moment the rules are evaluated.
struct CommandContext {
  bool monitoring = false;
  bool paused = false;
  bool sortColumnSet = false;
  bool hideTcp = false;
  bool hideUdp = false;
  bool hideIcmp = false;
  bool alwaysOnTop = false;
  bool resolveAddresses = false;
  bool resolvePorts = false;
  bool toolbarShown = false;
  bool statusBarShown = false;
  bool rowsSelected = false;  // on the page shown
};

struct CommandState {
  bool enabled = false;
  bool checked = false;

  bool operator==(const CommandState&) const = default;
};

// The enable and check rule of every command, in one place: menus, toolbar,
// keys and posted commands all go by it. An unknown command is disabled.
CommandState EvaluateCommand(int id, const CommandContext& context);
