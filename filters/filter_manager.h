#pragma once

#include <string>
#include <vector>

#include "filters/compiled_filter.h"

class FilterCapture;
class FilterRows;

// One capture filter: an expression of the packet-filter language,
// switched on or off.
struct FilterEntry {
  std::string text;  // at most CFilterManager::kMaxTextLength bytes, never a NUL or line end
  bool enabled = false;
  CompiledFilter program;  // compiled by Apply, freed by Clear
};

// The user's capture filters: an ordered list kept in filters.dat, loaded
// when first needed, checked, and given to the running capture.
//
// Every enabled filter that compiles lets its packets through: the capture
// runs with one program compiled from all of them, each in parentheses,
// joined by "or". A filter that does not compile is left out without a
// word (the dialog shows why); when none is left the capture takes every
// packet.
//
// An empty list also means "not loaded": the next FillList or ApplyOnStart
// reads the file again. Stopping a capture empties it, so every start and
// every opening of the dialog after a stop works from the file.
//
// All of it runs on the user-interface thread. Nothing here touches a
// capture's handle: expressions are compiled on handles of their own, and
// the capture installs what it is sent on its own thread.
class CFilterManager {
 public:
  static constexpr std::size_t kMaxTextLength = 499;
  static constexpr char kNoError[] = "no error";

  // Does not read the file.
  explicit CFilterManager(std::string path);
  virtual ~CFilterManager();
  CFilterManager(const CFilterManager&) = delete;
  CFilterManager& operator=(const CFilterManager&) = delete;

  // The capture the filters go to; null (the default): none.
  void SetCapture(FilterCapture* capture) { m_capture = capture; }

  // Empties the list and frees the compiled programs.
  void Clear();
  // Clear, then the filters of the file. A missing or unreadable file is
  // an empty list, without a message.
  void Load();
  // Rewrites the file from the list, whole or not at all. A file that
  // cannot be written keeps its old contents, without a message.
  void Save() const;
  // Gives the enabled filters to the capture if the request is effective
  // (`force`, or the user is monitoring) and they were not given already.
  void Apply(int force);
  // When a capture has started: the file if the list is empty, then Apply.
  void ApplyOnStart();
  // The list into the dialog's rows (the file first if the list is empty).
  void FillList(FilterRows& rows);
  // The list from the dialog's rows, rows without text left out; given to
  // the capture at once while the user is monitoring.
  void RebuildFromList(const FilterRows& rows);
  // kNoError if the expression compiles for the capture's link type,
  // otherwise the capture library's message.
  std::string Validate(const std::string& expression) const;

  const std::vector<FilterEntry>& Entries() const { return m_entries; }
  bool Applied() const { return m_applied; }
  // What the capture was last given, until the list is cleared (a stop
  // clears it): how many filters, and the one expression they make. 0 and
  // empty while the capture keeps every packet.
  std::size_t FiltersInForce() const { return m_filtersInForce; }
  const std::string& ExpressionInForce() const { return m_expressionInForce; }
  const std::string& Path() const { return m_path; }

 private:
  void Append(std::string text, bool enabled);
  void Install(const std::string& expression, std::size_t filters);
  int LinkType() const;

  std::string m_path;
  std::vector<FilterEntry> m_entries;
  bool m_applied = false;
  std::size_t m_filtersInForce = 0;
  std::string m_expressionInForce;
  FilterCapture* m_capture = nullptr;
};

// The process-wide instance, defined with the other process-wide objects so
// that it is built and destroyed in their order.
extern CFilterManager theFilterManager;
