#include "filters/filter_file.h"

#include <algorithm>

namespace filter_file {
namespace {

constexpr std::string_view kTrimmed = "\n\r\t ";

// The file is read as text: a CR LF is one line end, as a lone LF is.
std::string WithUnixLineEnds(std::string_view content) {
  std::string text;
  text.reserve(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    text += content[i];
  }
  return text;
}

std::string_view Trimmed(std::string_view piece) {
  const std::size_t first = piece.find_first_not_of(kTrimmed);
  if (first == std::string_view::npos) return {};
  return piece.substr(first, piece.find_last_not_of(kTrimmed) - first + 1);
}

// What one piece of a line, line end included, contributes: nothing, or a
// filter.
void ParsePiece(std::string_view piece, std::vector<Line>& lines) {
  piece = piece.substr(0, piece.find('\0'));
  piece = Trimmed(piece);
  if (piece.empty() || piece.front() == ';') return;
  if (piece.front() == '+' || piece.front() == '-')
    lines.push_back({std::string(piece.substr(1)), piece.front() == '+'});
  else
    lines.push_back({std::string(piece), false});
}

}  // namespace

std::vector<Line> Parse(std::string_view content) {
  const std::string text = WithUnixLineEnds(content);
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    // A piece ends after its line feed, or once it holds the most a line
    // may hold.
    const std::size_t lineFeed = text.find('\n', start);
    const std::size_t lineEnd = lineFeed == std::string::npos ? text.size() : lineFeed + 1;
    const std::size_t end = std::min(lineEnd, start + kMaxPieceLength);
    ParsePiece(std::string_view(text).substr(start, end - start), lines);
    start = end;
  }
  return lines;
}

std::string Format(const std::vector<Line>& lines) {
  std::string content;
  for (const Line& line : lines) {
    if (line.text.empty()) continue;
    content += line.enabled ? '+' : '-';
    content += line.text;
    content += "\r\n";
  }
  return content;
}

}  // namespace filter_file
