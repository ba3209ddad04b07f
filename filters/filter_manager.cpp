#include "filters/filter_manager.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <utility>

#include "filters/alternatives.h"
#include "filters/filter_capture.h"
#include "filters/filter_file.h"
#include "filters/filter_rows.h"
#include "platform/whole_file.h"

CFilterManager::CFilterManager(std::string path) : m_path(std::move(path)) {}

CFilterManager::~CFilterManager() = default;

void CFilterManager::Clear() {
  m_entries.clear();  // each entry frees its program
  m_applied = false;
  m_filtersInForce = 0;
  m_expressionInForce.clear();
}

void CFilterManager::Load() {
  Clear();
  std::string content;
  if (platform::ReadWholeFile(m_path, content) != platform::ReadOutcome::kRead) return;
  for (filter_file::Line& line : filter_file::Parse(content)) Append(std::move(line.text), line.enabled);
}

void CFilterManager::Save() const {
  std::vector<filter_file::Line> lines;
  lines.reserve(m_entries.size());
  for (const FilterEntry& entry : m_entries) lines.push_back({entry.text, entry.enabled});
  const std::string content = filter_file::Format(lines);
  // Written whole or not at all: a crash or a full disk never leaves the
  // user's filters half written.
  platform::RewriteFile(m_path, [&content](const std::string&) { return content; });
}

// Texts are stored as the file can hold them: no NUL (the library would
// stop reading there), no line end (it would split the filter in two when
// read back), no more than a line of the file takes at a time.
void CFilterManager::Append(std::string text, bool enabled) {
  text.resize(std::min(text.find('\0'), text.size()));
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
  m_entries.push_back({std::move(text), enabled, {}});
}

int CFilterManager::LinkType() const { return m_capture != nullptr ? m_capture->LinkType() : DLT_EN10MB; }

void CFilterManager::Apply(int force) {
  if (m_capture == nullptr || m_applied) return;
  if (force == 0 && !m_capture->Monitoring()) return;
  // An emptied list leaves the running capture no filter, as the dialog
  // shows; a capture that has just started has none yet.
  if (m_entries.empty()) {
    if (force == 0) Install({}, 0);
    return;
  }
  const int linkType = LinkType();
  std::vector<std::string> accepted;
  std::string error;
  for (FilterEntry& entry : m_entries) {
    if (entry.enabled && entry.program.Compile(entry.text, linkType, error)) accepted.push_back(entry.text);
  }
  const std::string combined = AnyOf(accepted);
  if (!combined.empty() || force == 0) Install(combined, combined.empty() ? 0 : accepted.size());
  m_applied = true;
}

void CFilterManager::Install(const std::string& expression, std::size_t filters) {
  m_capture->InstallFilter(expression);
  m_filtersInForce = filters;
  m_expressionInForce = expression;
}

void CFilterManager::ApplyOnStart() {
  if (m_entries.empty()) Load();
  Apply(1);
}

void CFilterManager::FillList(FilterRows& rows) {
  rows.DeleteAllRows();
  if (m_entries.empty()) Load();
  for (const FilterEntry& entry : m_entries) rows.AppendRow(entry.text, entry.enabled);
}

void CFilterManager::RebuildFromList(const FilterRows& rows) {
  Clear();
  for (int row = 0; row < rows.RowCount(); ++row) {
    std::string text = rows.RowExpression(row);
    if (!text.empty()) Append(std::move(text), rows.RowEnabled(row));
  }
  Apply(0);
}

std::string CFilterManager::Validate(const std::string& expression) const {
  CompiledFilter program;
  std::string error;
  return program.Compile(expression, LinkType(), error) ? kNoError : error;
}
