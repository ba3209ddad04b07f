#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "export/export_format.h"
#include "table/connection_owner.h"
#include "table/counting_traffic_display.h"

class CTrafficList;

// The list of a replay: no texts, but with --processes the owner each row
// was given, by row. Without, it costs nothing over counting.
class OwnersDisplay : public CountingTrafficDisplay {
 public:
  explicit OwnersDisplay(bool keepOwners) : m_keepOwners(keepOwners) {}

  int InsertRow(int position, const char* text, const TrafficEntry& entry,
                const ConnectionEndpoints& endpoints) override {
    if (m_keepOwners) m_owners.emplace_back();
    return CountingTrafficDisplay::InsertRow(position, text, entry, endpoints);
  }
  void SetRowOwner(int row, const ConnectionOwner& owner) override {
    if (row >= 0 && static_cast<std::size_t>(row) < m_owners.size()) m_owners[row] = owner;
  }
  void DeleteRow(int row) override {
    if (row >= 0 && static_cast<std::size_t>(row) < m_owners.size()) m_owners.erase(m_owners.begin() + row);
    CountingTrafficDisplay::DeleteRow(row);
  }
  void DeleteAllRows() override {
    m_owners.clear();
    CountingTrafficDisplay::DeleteAllRows();
  }
  // Unknown for a row that is not there.
  ConnectionOwner OwnerOf(std::int32_t row) const {
    return row >= 0 && static_cast<std::size_t>(row) < m_owners.size() ? m_owners[row] : ConnectionOwner();
  }
  bool KeepsOwners() const { return m_keepOwners; }

 private:
  const bool m_keepOwners;
  std::vector<ConnectionOwner> m_owners;
};


// Every connection in the table, in table order, on standard output. As
// CSV in the replay's own columns unless `format` names an export format:
// then as an export writes them, times and all. With owners when
// `display` keeps them.
void PrintConnections(CTrafficList& table, const OwnersDisplay& display, std::optional<ExportFormat> format);
