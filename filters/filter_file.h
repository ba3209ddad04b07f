#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text of filters.dat: one filter per line, "+" (on) or "-" (off)
// followed by the expression.
namespace filter_file {

// Lines are taken at most this many bytes at a time; the rest of a longer
// line is a line of its own.
inline constexpr std::size_t kMaxPieceLength = 499;

struct Line {
  std::string text;
  bool enabled = false;
};

// Every filter the text holds, in order. A CR LF counts as one line end.
// Leading and trailing line ends, tabs and spaces are trimmed; empty lines
// and lines that start with ";" are skipped; "+" or "-" switches the
// filter on or off and the rest of the line, untrimmed, is its expression;
// any other line is a filter that is off, the whole trimmed line its
// expression. A NUL byte ends a line's expression.
std::vector<Line> Parse(std::string_view content);

// The file for these filters: CR LF line ends, filters with an empty
// expression left out.
std::string Format(const std::vector<Line>& lines);

}  // namespace filter_file
