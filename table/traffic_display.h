#pragma once

#include <cstdint>

struct ConnectionEndpoints;
struct ConnectionOwner;
struct TrafficEntry;

// What the capture side does to the traffic list and the status bar. It is
// called on the capture thread with the table lock held, so an
// implementation must never make the caller wait for the user-interface
// thread. Rows are addressed by index from 0; deleting a row moves every
// later row up by one.
class TrafficDisplay {
 public:
  // The nine columns of the traffic, then the program and the user that
  // own the connection's local end.
  static constexpr int kColumnCount = 11;
  static constexpr int kProcessColumn = 9;
  static constexpr int kUserColumn = 10;

  virtual ~TrafficDisplay() = default;

  virtual int ItemCount() const = 0;
  // Appends or inserts a row whose column 0 reads `firstColumnText` and that
  // belongs to `entry`, the connection between `endpoints`. Returns the new
  // row's index, or -1 on failure. The implementation copies what it needs:
  // the entry may be gone by the time a user looks at the row.
  virtual int InsertRow(int position, const char* firstColumnText, const TrafficEntry& entry,
                        const ConnectionEndpoints& endpoints) = 0;
  // The text may be reused by the caller right after the call.
  virtual void SetCellText(int row, int column, const char* text) = 0;
  // The row's connection belongs to `owner`: by default its two texts go
  // into the program's and the user's columns (empty where unknown).
  virtual void SetRowOwner(int row, const ConnectionOwner& owner);
  virtual void DeleteRow(int row) = 0;
  virtual void DeleteAllRows() = 0;
  virtual bool WindowExists() const = 0;
  virtual void RedrawAll() = 0;
  // The capture totals after a counted packet, for the status bar's totals
  // line (FormatTotalsLine). A status bar drawn a few times a second keeps
  // only the latest and formats the line when it draws, instead of once per
  // packet.
  virtual void SetStatusTotals(std::uint64_t packets, std::uint64_t dataBytes, std::uint64_t totalBytes,
                               int units) = 0;
};
