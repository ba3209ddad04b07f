#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "table/traffic_display.h"
#include "table/traffic_entry.h"
#include "ui/block_list.h"

// The display operations of one stretch of time, in the order they were
// made, waiting to be applied to the list on the user-interface thread.
struct JournalBatch {
  enum class Kind : std::uint8_t { kInsert, kSetCell, kDelete, kDeleteAll };

  struct Operation {
    Kind kind;
    std::uint8_t column;
    std::int32_t row;
    std::uint32_t textOffset;  // into `text`
    std::uint32_t textLength;
  };

  struct Totals {
    std::uint64_t packets = 0;
    std::uint64_t dataBytes = 0;
    std::uint64_t totalBytes = 0;
    int units = 0;
  };

  // A full pass over 100k rows records half a million operations: they are
  // kept in blocks of 64 KiB, and the text of a batch that grew large is
  // given back once applied.
  BlockList<Operation, 4096> operations;
  BlockList<ConnectionEndpoints, 1024> insertedEndpoints;  // one per kInsert, in order
  std::string text;  // the texts of all operations
  bool redraw = false;
  bool hasTotals = false;
  Totals totals;  // the latest, when hasTotals

  bool Empty() const { return operations.empty() && !redraw && !hasTotals; }
  // Keeps some memory for the next round.
  void Clear();
  std::string_view TextOf(const Operation& operation) const {
    return std::string_view(text).substr(operation.textOffset, operation.textLength);
  }
};

// The traffic list as the capture side sees it. The capture thread calls
// it with the table lock held; each call only appends to the journal under
// a mutex of the journal's own, held for a few instructions, and never
// waits for the user-interface thread, which takes the journal over in one
// swap. The row count the capture side reads back is kept here, so it is
// right at once, before the list shows the rows.
class CTrafficJournal : public TrafficDisplay {
 public:
  int ItemCount() const override;
  int InsertRow(int position, const char* firstColumnText, const TrafficEntry& entry,
                const ConnectionEndpoints& endpoints) override;
  void SetCellText(int row, int column, const char* text) override;
  void DeleteRow(int row) override;
  void DeleteAllRows() override;
  bool WindowExists() const override;
  void RedrawAll() override;
  void SetStatusTotals(std::uint64_t packets, std::uint64_t dataBytes, std::uint64_t totalBytes,
                       int units) override;

  // Hands over everything recorded since the last take; `batch` must be
  // empty and comes back with the journal's operations.
  void Take(JournalBatch& batch);

  // Once the list is gone: the table then leaves the rows alone.
  void SetWindowGone();

 private:
  void Append(JournalBatch::Kind kind, int row, int column, const char* text);

  mutable std::mutex m_mutex;
  JournalBatch m_batch;
  int m_rowCount = 0;
  bool m_windowExists = true;
};
