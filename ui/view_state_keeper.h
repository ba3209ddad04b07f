#pragma once

#include <QObject>
#include <optional>
#include <vector>

#include "table/traffic_entry.h"

class CTrafficModel;
class QTableView;

// Keeps what the user sees of the traffic list across a reset of its model:
// the selected rows, the current row and the rows at the top of the view,
// all found again by their connections' keys, which are unique in the list.
class ViewStateKeeper : public QObject {
  Q_OBJECT

 public:
  ViewStateKeeper(QTableView& view, CTrafficModel& model);

 private:
  void Save();
  void Restore();

  QTableView& m_view;
  CTrafficModel& m_model;
  std::vector<ConnectionEndpoints> m_selected;
  std::optional<ConnectionEndpoints> m_current;
  std::vector<ConnectionEndpoints> m_topRows;  // from the top down: the first still there is the top again
  int m_horizontalScroll = 0;
};
