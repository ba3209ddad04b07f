#pragma once

// Command identifiers. The numbers are the program's own: they are what a
// posted command carries, and tests address commands by them.
enum CommandId : int {
  ID_SEPARATOR = 0,
  ID_CAPTURE_START = 32771,
  ID_CAPTURE_STOP = 32772,
  ID_QUIT = 32773,
  ID_HIDE_TCP = 32777,
  ID_HIDE_UDP = 32778,
  ID_HIDE_ICMP = 32779,
  IDC_ADAPTER_SELECTOR = 32785,
  ID_CANCEL_SORT = 32786,
  ID_ALWAYS_ON_TOP = 32788,
  ID_RESOLVE_ADDRESSES = 32792,
  ID_RESOLVE_PORTS = 32795,
  ID_SETTINGS = 32797,
  ID_HELP_DOCUMENT = 32800,
  ID_FILTER_SETUP = 32806,
  ID_CAPTURE_PAUSE = 32809,
  ID_EDIT_CLEAR_ALL = 57633,
  ID_APP_ABOUT = 57664,
  ID_VIEW_TOOLBAR = 59392,
  ID_VIEW_STATUS_BAR = 59393,
};
