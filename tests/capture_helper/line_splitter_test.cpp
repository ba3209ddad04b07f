#include "capture_helper/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Line {
  std::string text;
  bool cut;
  bool operator==(const Line&) const = default;
};

// Feeds `stream` in pieces of `piece` bytes to a splitter with a limit of
// five bytes a line.
std::vector<Line> Split(const std::string& stream, std::size_t piece) {
  LineSplitter splitter(5);
  std::vector<Line> lines;
  for (std::size_t at = 0; at < stream.size(); at += piece)
    splitter.Feed(stream.data() + at, std::min(piece, stream.size() - at),
                  [&](std::string_view line, bool cut) { lines.push_back({std::string(line), cut}); });
  return lines;
}

// Whatever the pieces, the same lines: a long one cut once and marked,
// never running into the next; an unfinished last line held back.
TEST(LineSplitterTest, LinesWhateverThePieces) {
  const struct {
    const char* name;
    std::string stream;
    std::vector<Line> lines;
  } cases[] = {
      {"short lines", "stop\nab\n\n", {{"stop", false}, {"ab", false}, {"", false}}},
      {"at the limit", "12345\n", {{"12345", false}}},
      {"one past it", "123456\nok\n", {{"12345", true}, {"ok", false}}},
      {"far past it", std::string(100, 'x') + "\nok\n", {{"xxxxx", true}, {"ok", false}}},
      {"no line feed yet", "ok\nwaiting", {{"ok", false}}},
      {"a NUL byte is kept", std::string("a\0b\n", 4), {{std::string("a\0b", 3), false}}},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {1, 2, 3, 7, 1000}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(Split(c.stream, piece), c.lines);
    }
  }
}

}  // namespace
