#include "ui/owner_columns.h"

#include <QHeaderView>
#include <QMenu>

#include "config/settings.h"
#include "table/traffic_display.h"
#include "ui/traffic_model.h"

namespace {

constexpr int kOwnerColumns[] = {TrafficDisplay::kProcessColumn, TrafficDisplay::kUserColumn};

}  // namespace

COwnerColumns::COwnerColumns(QHeaderView& header, CSettings& settings, QObject* parent)
    : QObject(parent), m_header(header), m_settings(settings) {
  m_header.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&m_header, &QHeaderView::customContextMenuRequested, this, [this](const QPoint& at) {
    std::unique_ptr<QMenu> menu = CreateHeaderMenu(&m_header);
    menu->exec(m_header.mapToGlobal(at));
  });
}

void COwnerColumns::Restore() {
  m_header.setSectionHidden(TrafficDisplay::kProcessColumn, m_settings.showprocess == 0);
  m_header.setSectionHidden(TrafficDisplay::kUserColumn, m_settings.showuser == 0);
}

void COwnerColumns::Store() {
  m_settings.showprocess = m_header.isSectionHidden(TrafficDisplay::kProcessColumn) ? 0 : 1;
  m_settings.showuser = m_header.isSectionHidden(TrafficDisplay::kUserColumn) ? 0 : 1;
}

std::unique_ptr<QMenu> COwnerColumns::CreateHeaderMenu(QWidget* parent) {
  auto menu = std::make_unique<QMenu>(parent);
  for (const int column : kOwnerColumns) {
    QAction* action = menu->addAction(CTrafficModel::ColumnHeader(column));
    action->setCheckable(true);
    action->setChecked(!m_header.isSectionHidden(column));
    connect(action, &QAction::toggled, this, [this, column](bool shown) { SetShown(column, shown); });
  }
  return menu;
}

// A column shown again comes back with the width it had.
void COwnerColumns::SetShown(int column, bool shown) {
  m_header.setSectionHidden(column, !shown);
  Store();
}

QString COwnerColumns::LevelText(AttributionLevel level, const QString& error) {
  switch (level) {
    case AttributionLevel::kSocketEvents:
    case AttributionLevel::kEveryProcess: return tr("进程归属: 显示每个连接的程序和用户");
    case AttributionLevel::kOwnProcesses:
      return tr("进程归属: 只显示您自己的程序, 其他连接只显示用户。要看到所有程序, 请给 quorvel-capture "
                "授予 cap_bpf 和 cap_net_admin 能力");
    case AttributionLevel::kNone: break;
  }
  return tr("进程归属不可用: %1").arg(error);
}
