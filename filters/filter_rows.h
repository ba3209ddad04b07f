#pragma once

#include <string>

// The rows of the filter dialog's list as the filter store sees them: one
// per filter, in display order, each an expression and a check box.
class FilterRows {
 public:
  virtual ~FilterRows() = default;
  virtual void DeleteAllRows() = 0;
  virtual void AppendRow(const std::string& expression, bool enabled) = 0;
  virtual int RowCount() const = 0;
  virtual std::string RowExpression(int row) const = 0;
  virtual bool RowEnabled(int row) const = 0;
};
