#include "ui/command_actions.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "ui/checked_image_menu_style.h"
#include "ui/command_table.h"

namespace {

QIcon CommandImage(const char* name) {
  return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

}  // namespace

CommandActions::CommandActions(QWidget& window, const std::function<void(int)>& trigger) {
  for (const CommandEntry& command : CommandTable()) {
    if (command.handler == CommandHandler::kNone) continue;
    const char* text = command.menuText != nullptr ? command.menuText : command.tooltip;
    auto* action = new QAction(CommandText(text), &window);
    action->setStatusTip(CommandText(command.prompt));
    action->setToolTip(CommandText(command.tooltip));
    // A toolbar that shows text beside its images (some desktops ask for
    // that) gets the item's name without the key.
    action->setIconText(action->text().section(u'\t', 0, 0));
    // Exit also has the key every Linux desktop quits with; the menu shows
    // the first key.
    if (command.shortcut != nullptr)
      action->setShortcuts(QKeySequence::listFromString(QString::fromLatin1(command.shortcut), QKeySequence::PortableText));
    if (command.image != nullptr) action->setIcon(CommandImage(command.image));
    action->setCheckable(command.checkable);
    const int id = command.id;
    QObject::connect(action, &QAction::triggered, &window, [trigger, id] { trigger(id); });
    window.addAction(action);
    m_actions.insert(id, action);
  }
}

void CommandActions::FillMenuBar(QMenuBar& bar, const std::function<void()>& beforeShow) const {
  auto* menuStyle = new CheckedImageMenuStyle;
  menuStyle->setParent(&bar);  // a widget's style is not its child
  for (const MenuEntry& layout : MenuBarLayout()) {
    QMenu* menu = bar.addMenu(CommandText(layout.title));
    menu->setStyle(menuStyle);
    QObject::connect(menu, &QMenu::aboutToShow, menu, beforeShow);
    for (const CommandId id : layout.items) {
      if (id == ID_SEPARATOR)
        menu->addSeparator();
      else
        menu->addAction(Action(id));
    }
  }
}

void CommandActions::FillToolBar(QToolBar& bar, QWidget& adapterSelector) const {
  for (const CommandId id : ToolBarLayout()) {
    if (id == IDC_ADAPTER_SELECTOR)
      bar.addWidget(&adapterSelector);
    else if (id == ID_SEPARATOR)
      bar.addSeparator();
    else
      bar.addAction(Action(id));
  }
}

void CommandActions::Apply(const std::function<CommandState(int)>& rule) const {
  for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
    const CommandState state = rule(it.key());
    it.value()->setEnabled(state.enabled);
    if (it.value()->isCheckable()) it.value()->setChecked(state.checked);
  }
}
