#include "ui/command_actions.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "ui/command_table.h"

namespace {

QIcon CommandImage(const char* name) {
  return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

}  // namespace

CommandActions::CommandActions(QWidget& window, const std::function<void(int)>& trigger) {
  for (const CommandSpec& spec : CommandTable()) {
    if (spec.handler == CommandHandler::kNone) continue;
    const char* text = spec.menuText != nullptr ? spec.menuText : spec.tooltip;
    auto* action = new QAction(QString::fromUtf8(text), &window);
    action->setStatusTip(QString::fromUtf8(spec.prompt));
    action->setToolTip(QString::fromUtf8(spec.tooltip));
    // A toolbar that shows text beside its images (some desktops ask for
    // that) gets the item's name without the key.
    action->setIconText(action->text().section(u'\t', 0, 0));
    if (spec.shortcut != nullptr)
      action->setShortcut(QKeySequence(QString::fromLatin1(spec.shortcut), QKeySequence::PortableText));
    if (spec.image != nullptr) action->setIcon(CommandImage(spec.image));
    action->setCheckable(spec.checkable);
    const int id = spec.id;
    QObject::connect(action, &QAction::triggered, &window, [trigger, id] { trigger(id); });
    window.addAction(action);
    m_actions.insert(id, action);
  }
}

void CommandActions::FillMenuBar(QMenuBar& bar, const std::function<void()>& beforeShow) const {
  for (const MenuSpec& spec : MenuBarLayout()) {
    QMenu* menu = bar.addMenu(QString::fromUtf8(spec.title));
    QObject::connect(menu, &QMenu::aboutToShow, menu, beforeShow);
    for (const CommandId id : spec.items) {
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
