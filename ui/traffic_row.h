#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "table/traffic_display.h"
#include "table/traffic_entry.h"

// One row of the traffic list as the window keeps it: the cell texts and a
// copy of the connection's endpoints, so that nothing the window does
// reaches an entry of the table, which the capture thread may free at any
// time.
struct TrafficRow {
  std::array<std::string, TrafficDisplay::kColumnCount> cells;
  ConnectionEndpoints endpoints;
  // Where the row stands in the capture's order, in the list's order and
  // among the rows an active search lets through; kept by the model's
  // RowSequences. -1: not in that order.
  std::int32_t logicalSlot = -1;
  std::int32_t displaySlot = -1;
  std::int32_t matchSlot = -1;
  // What a search reads of the row (see SearchTextOf); empty until the
  // first search looks at the row, and again once a searched cell changes.
  std::string searchText;
};
