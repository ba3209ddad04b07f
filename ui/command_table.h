#pragma once

#include <QString>
#include <span>

#include "ui/command_ids.h"

// Who carries a command out. The list view handles what concerns the list,
// the frame what concerns the whole window, the application the About box;
// the adapter selector only holds a choice that Start reads.
enum class CommandHandler { kView, kFrame, kApp, kNone };

// One command: its texts, key, image and handler. The menu text carries the
// key after a tab, as the menu shows it.
struct CommandEntry {
  CommandId id;
  const char* menuText;  // null: no item in the menu bar
  const char* shortcut;  // portable key text, several keys apart by "; "; null: no key
  const char* prompt;    // shown in the status bar while the pointer rests on it
  const char* tooltip;
  const char* image;     // toolbar image name; null: no toolbar button
  CommandHandler handler;
  bool checkable;
};

std::span<const CommandEntry> CommandTable();

// The table's texts are marked for translation in this context.
inline constexpr char kCommandContext[] = "Commands";
// A text of the table (menu text, prompt, tip, menu title) in the window's
// language.
QString CommandText(const char* text);
// Null for an id that is not in the table.
const CommandEntry* FindCommand(int id);

// A pop-up menu of the menu bar; ID_SEPARATOR stands for a separator line.
struct MenuEntry {
  const char* title;
  std::span<const CommandId> items;
};

std::span<const MenuEntry> MenuBarLayout();

// The toolbar, left to right: IDC_ADAPTER_SELECTOR is the selector,
// ID_SEPARATOR a separator.
std::span<const CommandId> ToolBarLayout();
