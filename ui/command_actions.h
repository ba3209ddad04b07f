#pragma once

#include <QHash>
#include <functional>

#include "ui/command_rules.h"

class QAction;
class QMenuBar;
class QToolBar;
class QWidget;

// One action per command of the table, shared by the menu bar, the toolbar
// and the keys, so that all three show the same text, image, check mark and
// enabled state. Every action is also added to the window itself: its key
// then works whether or not the toolbar or a menu showing it is visible.
class CommandActions {
 public:
  // `trigger` receives the command id of every action the user triggers.
  CommandActions(QWidget& window, const std::function<void(int)>& trigger);

  // Null for an id without an action (the selector, unknown ids).
  QAction* Action(int id) const { return m_actions.value(id, nullptr); }

  // `beforeShow` runs each time a pop-up menu is about to open.
  void FillMenuBar(QMenuBar& bar, const std::function<void()>& beforeShow) const;
  void FillToolBar(QToolBar& bar, QWidget& adapterSelector) const;

  void Apply(const std::function<CommandState(int)>& rule) const;

 private:
  QHash<int, QAction*> m_actions;
};
