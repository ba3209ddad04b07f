#pragma once

#include <arpa/inet.h>

#include <deque>
#include <string>

#include "table/memory_traffic_display.h"
#include "table/traffic_entry.h"
#include "ui/traffic_journal.h"
#include "ui/traffic_model.h"

// The same display operations given to the window's journal and to the
// in-memory list the core tests trust, so that the model can be compared
// with what the operations describe.
class TeeDisplay : public TrafficDisplay {
 public:
  TeeDisplay(TrafficDisplay& first, MemoryTrafficDisplay& second) : m_first(first), m_second(second) {}

  int ItemCount() const override { return m_first.ItemCount(); }
  int InsertRow(int position, const char* text, const TrafficEntry& entry,
                const ConnectionEndpoints& endpoints) override {
    m_second.InsertRow(position, text, entry, endpoints);
    return m_first.InsertRow(position, text, entry, endpoints);
  }
  void SetCellText(int row, int column, const char* text) override {
    m_first.SetCellText(row, column, text);
    m_second.SetCellText(row, column, text);
  }
  void DeleteRow(int row) override {
    m_first.DeleteRow(row);
    m_second.DeleteRow(row);
  }
  void DeleteAllRows() override {
    m_first.DeleteAllRows();
    m_second.DeleteAllRows();
  }
  bool WindowExists() const override { return m_first.WindowExists(); }
  void RedrawAll() override { m_first.RedrawAll(); }
  void SetStatusTotals(std::uint64_t packets, std::uint64_t data, std::uint64_t total, int units) override {
    m_first.SetStatusTotals(packets, data, total, units);
    m_second.SetStatusTotals(packets, data, total, units);
  }

 private:
  TrafficDisplay& m_first;
  MemoryTrafficDisplay& m_second;
};

// Connections made up by a test: entry n goes from 10.0.x.y port 1000+n.
class MadeUpEntries {
 public:
  const TrafficEntry& Next(std::uint8_t protocol = 6) {
    TrafficEntry& entry = m_entries.emplace_back();
    const std::uint32_t n = m_count++;
    entry.key.sourceAddress = htonl(0x0A000000u + n);
    entry.key.destinationAddress = htonl(0xC0A80001u);
    entry.key.sourcePort = htons(static_cast<std::uint16_t>(1000 + n));
    entry.key.destinationPort = htons(80);
    entry.key.protocol = protocol;
    return entry;
  }

 private:
  std::deque<TrafficEntry> m_entries;
  std::uint32_t m_count = 0;
};

// Inserts a row for a made-up entry, as the refresh pass does for an IPv4
// connection.
inline int Insert(TrafficDisplay& display, int position, const char* text, const TrafficEntry& entry) {
  return display.InsertRow(position, text, entry, Ipv4EndpointsOf(entry.key));
}

// Applies everything the journal holds to the model.
inline void DrainInto(CTrafficJournal& journal, CTrafficModel& model) {
  JournalBatch batch;
  journal.Take(batch);
  model.Apply(batch);
}

// A model row's cells and endpoints, for comparing with the in-memory list.
inline MemoryTrafficDisplay::Row ModelRow(const CTrafficModel& model, int row) {
  MemoryTrafficDisplay::Row copy;
  for (int column = 0; column < TrafficDisplay::kColumnCount; ++column) copy.cells[column] = model.CellText(row, column);
  copy.endpoints = model.EndpointsAt(row);
  return copy;
}

inline bool SameRow(const MemoryTrafficDisplay::Row& a, const MemoryTrafficDisplay::Row& b) {
  return a.cells == b.cells && a.endpoints == b.endpoints;
}
