#include "ui/row_search.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

// Every field of a row's search text ends in a line feed, which no word
// holds (words are split at white space), so a word never matches across
// two fields. A port field starts with a mark of its own, so that a port
// word can ask for a whole port field and nothing else.
constexpr char kFieldEnd = '\n';
constexpr char kPortStart = '\x01';

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Letters beyond ASCII keep their case on both sides: program names and
// users are compared as they are written.
void AppendLower(std::string& text, std::string_view field) {
  for (const char c : field) text += LowerAscii(c);
}

void AppendField(std::string& text, std::string_view field) {
  AppendLower(text, field);
  text += kFieldEnd;
}

void AppendAddress(std::string& text, const IpAddress& address, std::string_view shown) {
  char number[IpAddress::kTextSize];
  const std::string_view numberText = FormatIpAddress(address, number);
  AppendField(text, numberText);
  if (shown != numberText) AppendField(text, shown);  // a host name
}

void AppendPort(std::string& text, std::uint16_t portNetworkOrder, std::string_view shown) {
  const std::string number = std::to_string(ntohs(portNetworkOrder));
  text += kPortStart;
  AppendField(text, number);
  if (shown.empty() || shown == number) return;
  text += kPortStart;  // a service name
  AppendField(text, shown);
}

bool IsPortWord(std::string_view word) {
  return word.size() > 1 && word[0] == ':' && word.find(':', 1) == std::string_view::npos;
}

}  // namespace

RowSearch::RowSearch(const QString& query) {
  QString word;
  // Split at any white space, the ideographic space of Chinese input too.
  const auto addWord = [this, &word] {
    if (word.isEmpty()) return;
    const QByteArray utf8 = word.toUtf8();
    std::string needle;
    if (IsPortWord(std::string_view(utf8.constData(), utf8.size()))) {
      needle += kPortStart;
      AppendField(needle, std::string_view(utf8.constData() + 1, utf8.size() - 1));
    } else {
      AppendLower(needle, std::string_view(utf8.constData(), utf8.size()));
    }
    if (std::find(m_needles.begin(), m_needles.end(), needle) == m_needles.end()) m_needles.push_back(needle);
    word.clear();
  };
  for (const QChar c : query) {
    if (c.isSpace())
      addWord();
    else
      word += c;
  }
  addWord();
  // One order for the same words, so that equal searches compare equal.
  std::sort(m_needles.begin(), m_needles.end());
}

bool RowSearch::Matches(std::string_view searchText) const {
  for (const std::string& needle : m_needles)
    if (searchText.find(needle) == std::string_view::npos) return false;
  return true;
}

// A row that holds each of this search's words holds every part of them,
// so each word of `wider` that is part of one of ours holds in it too.
bool RowSearch::Narrows(const RowSearch& wider) const {
  return std::all_of(wider.m_needles.begin(), wider.m_needles.end(), [this](const std::string& wide) {
    return std::any_of(m_needles.begin(), m_needles.end(),
                       [&wide](const std::string& narrow) { return narrow.find(wide) != std::string::npos; });
  });
}

bool RowSearch::Searched(int column) {
  return (column >= 0 && column <= 4) || column == TrafficDisplay::kProcessColumn ||
         column == TrafficDisplay::kUserColumn;
}

const std::string& SearchTextOf(TrafficRow& row) {
  std::string& text = row.searchText;
  if (!text.empty()) return text;
  const ConnectionEndpoints& ends = row.endpoints;
  text += kFieldEnd;  // so that the first field has an end before it as well
  AppendAddress(text, ends.source, row.cells[0]);
  AppendPort(text, ends.sourcePort, row.cells[1]);
  AppendAddress(text, ends.destination, row.cells[2]);
  AppendPort(text, ends.destinationPort, row.cells[3]);
  AppendField(text, row.cells[4]);
  AppendField(text, row.cells[TrafficDisplay::kProcessColumn]);
  AppendField(text, row.cells[TrafficDisplay::kUserColumn]);
  return text;
}
