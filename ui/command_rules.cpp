#include "ui/command_rules.h"

CommandState EvaluateCommand(int id, const CommandContext& c) {
  switch (id) {
    case ID_CAPTURE_START: return {!c.monitoring, false};
    case ID_CAPTURE_STOP: return {c.monitoring, false};
    case ID_CAPTURE_PAUSE: return {c.monitoring, c.paused};
    case ID_HIDE_TCP: return {true, c.hideTcp};
    case ID_HIDE_UDP: return {true, c.hideUdp};
    case ID_HIDE_ICMP: return {true, c.hideIcmp};
    case ID_CANCEL_SORT: return {c.sortColumnSet, false};
    case ID_VIEW_TOOLBAR: return {true, c.toolbarShown};
    case ID_VIEW_STATUS_BAR: return {true, c.statusBarShown};
    case ID_ALWAYS_ON_TOP: return {true, c.alwaysOnTop};
    case ID_RESOLVE_ADDRESSES: return {true, c.resolveAddresses};
    case ID_RESOLVE_PORTS: return {true, c.resolvePorts};
    case ID_EXPORT_SELECTED: return {c.rowsSelected, false};
    case ID_QUIT:
    case ID_EXPORT_LIST:
    case ID_EXPORT_HISTORY:
    case ID_FILTER_SETUP:
    case ID_SETTINGS:
    case ID_HELP_DOCUMENT:
    case ID_APP_ABOUT:
    case ID_EDIT_CLEAR_ALL: return {true, false};
    default: return {false, false};
  }
}
