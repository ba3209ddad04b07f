#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "process/owner_refresher.h"

class CSettings;
class QHeaderView;
class QMenu;

// The list's two columns of the connections' owners, the program and the
// user: shown or hidden from the header's context menu, which way being a
// setting, and the line the status bar shows once about how much of the
// owners the system lets us see.
class COwnerColumns : public QObject {
  Q_OBJECT

 public:
  COwnerColumns(QHeaderView& header, CSettings& settings, QObject* parent = nullptr);

  // The columns as the settings have them; stores them back.
  void Restore();
  void Store();

  // The header's menu: a checked item per hideable column.
  std::unique_ptr<QMenu> CreateHeaderMenu(QWidget* parent);

  // What the status bar says about the owners at `level`, the reason for a
  // failed look in `error`.
  static QString LevelText(AttributionLevel level, const QString& error);

 private:
  void SetShown(int column, bool shown);

  QHeaderView& m_header;
  CSettings& m_settings;
};
