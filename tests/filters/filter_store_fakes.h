#pragma once

#include <pcap/dlt.h>

#include <string>
#include <utility>
#include <vector>

#include "filters/filter_capture.h"
#include "filters/filter_rows.h"

// A capture that only records the filters it is given.
class FakeFilterCapture : public FilterCapture {
 public:
  bool Monitoring() const override { return monitoring; }
  int LinkType() const override { return linkType; }
  void InstallFilter(const std::string& expression) override { installed.push_back(expression); }

  bool monitoring = false;
  int linkType = DLT_EN10MB;
  std::vector<std::string> installed;
};

// The dialog's rows as plain values.
class FakeFilterRows : public FilterRows {
 public:
  using Row = std::pair<std::string, bool>;
  FakeFilterRows() = default;
  explicit FakeFilterRows(std::vector<Row> initial) : rows(std::move(initial)) {}

  void DeleteAllRows() override { rows.clear(); }
  void AppendRow(const std::string& expression, bool enabled) override { rows.emplace_back(expression, enabled); }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  std::string RowExpression(int row) const override { return rows[static_cast<std::size_t>(row)].first; }
  bool RowEnabled(int row) const override { return rows[static_cast<std::size_t>(row)].second; }

  std::vector<Row> rows;
};
