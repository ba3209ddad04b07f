#include "platform/profile.h"

#include "platform/whole_file.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <vector>

namespace platform {
namespace {

// ---- Text of one profile ---------------------------------------------------

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsWrappedInQuotes(std::string_view text) {
  return text.size() >= 2 && text.front() == '"' && text.back() == '"';
}

std::string_view Unquote(std::string_view value) {
  return IsWrappedInQuotes(value) ? value.substr(1, value.size() - 2) : value;
}

// One line of the file as offsets into the whole text: [begin, end) is the
// text without its line end, `next` is where the following line starts.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;

  bool HasLineEnd() const { return next > end; }
};

Line LineAt(std::string_view text, std::size_t begin) {
  const auto lf = text.find('\n', begin);
  if (lf == std::string_view::npos) return {begin, text.size(), text.size()};
  const bool crlf = lf > begin && text[lf - 1] == '\r';
  return {begin, crlf ? lf - 1 : lf, lf + 1};
}

enum class LineKind { kOther, kSection, kKey };

// What a line says. For a key line, [valueBegin, valueEnd) is the value as
// written (blanks around it excluded, quotes included), in file offsets.
struct LineMeaning {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
};

LineMeaning Interpret(std::string_view text, const Line& line) {
  std::string_view raw = text.substr(line.begin, line.end - line.begin);
  // A CR that ends the file ends its last line, as CR LF would: it is no
  // part of a value, which could never be written back with it.
  if (!line.HasLineEnd() && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  const std::string_view trimmed = Trim(raw);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return {};
  if (trimmed.front() == '[') {
    const auto close = trimmed.find(']');
    if (close == std::string_view::npos) return {};
    return {LineKind::kSection, Trim(trimmed.substr(1, close - 1))};
  }
  const auto equals = raw.find('=');
  if (equals == std::string_view::npos) return {};
  const std::string_view name = Trim(raw.substr(0, equals));
  if (name.empty()) return {};
  const std::string_view value = Trim(raw.substr(equals + 1));
  const std::size_t valueBegin =
      value.empty() ? line.begin + raw.size() : line.begin + static_cast<std::size_t>(value.data() - raw.data());
  return {LineKind::kKey, name, valueBegin, valueBegin + value.size()};
}

// Where a key stands in the file, or where it would go. Only the first
// section of the name and the first key of the name in it count.
struct KeyPlace {
  bool sectionFound = false;
  bool keyFound = false;
  std::size_t valueBegin = 0;  // key found: its value
  std::size_t valueEnd = 0;
  Line lastFilledLine;  // section found, key not: the new key goes after it
};

KeyPlace FindKey(std::string_view text, std::string_view section, std::string_view key) {
  KeyPlace place;
  for (std::size_t at = 0; at < text.size();) {
    const Line line = LineAt(text, at);
    at = line.next;
    const LineMeaning meaning = Interpret(text, line);
    if (meaning.kind == LineKind::kSection) {
      if (place.sectionFound) break;
      place.sectionFound = EqualsIgnoringCase(meaning.name, section);
      place.lastFilledLine = line;
      continue;
    }
    if (!place.sectionFound) continue;
    if (meaning.kind == LineKind::kKey && EqualsIgnoringCase(meaning.name, key)) {
      place.keyFound = true;
      place.valueBegin = meaning.valueBegin;
      place.valueEnd = meaning.valueEnd;
      break;
    }
    if (!Trim(text.substr(line.begin, line.end - line.begin)).empty()) place.lastFilledLine = line;
  }
  return place;
}

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  const KeyPlace place = FindKey(text, Trim(section), Trim(key));
  if (!place.keyFound) return std::nullopt;
  return Unquote(text.substr(place.valueBegin, place.valueEnd - place.valueBegin));
}

std::string_view LineEndOf(std::string_view text) {
  const Line first = LineAt(text, 0);
  return first.next - first.end == 2 ? "\r\n" : "\n";
}

// `text` ends with a line end.
bool LastLineIsBlank(std::string_view text) {
  text.remove_suffix(1);
  const auto previousEnd = text.rfind('\n');
  std::string_view last = text.substr(previousEnd == std::string_view::npos ? 0 : previousEnd + 1);
  if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
  return Trim(last).empty();
}

std::string WithKeySet(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::string_view eol = LineEndOf(text);
  const KeyPlace place = FindKey(text, section, key);
  std::string result;
  if (place.keyFound) {
    result.append(text.substr(0, place.valueBegin)).append(value);
    result.append(text.substr(place.valueEnd));
    return result;
  }
  const std::string keyLine = std::string(key) + "=" + std::string(value) + std::string(eol);
  if (place.sectionFound) {
    const Line& after = place.lastFilledLine;
    result.append(text.substr(0, after.next));
    if (!after.HasLineEnd()) result.append(eol);
    result.append(keyLine).append(text.substr(after.next));
    return result;
  }
  result.append(text);
  if (!text.empty() && text.back() != '\n') result.append(eol);
  // A blank line between sections keeps the file easy to read by eye.
  if (!text.empty() && !LastLineIsBlank(result)) result.append(eol);
  result.append("[").append(section).append("]").append(eol).append(keyLine);
  return result;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool CanBeStored(std::string_view section, std::string_view key, std::string_view value) {
  if (key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (key.front() == '[' || key.front() == ';' || key.front() == '#') return false;
  return section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos;
}

// Blanks at either end would be trimmed away on reading, and an outer pair
// of quotes would be taken off: one more pair of quotes keeps both.
std::string StoredForm(std::string_view value) {
  const bool needsQuotes = !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                              kBlanks.find(value.back()) != std::string_view::npos ||
                                              IsWrappedInQuotes(value));
  return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::optional<int> ParseLeadingInt(std::string_view text) {
  const auto start = text.find_first_not_of(kBlanks);
  text = start == std::string_view::npos ? std::string_view{} : text.substr(start);
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  // Saturating here keeps the sum small; anything this big clamps anyway.
  constexpr std::int64_t kSaturated = std::int64_t{1} << 40;
  std::int64_t magnitude = 0;
  std::size_t digits = 0;
  for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    magnitude = std::min(magnitude * 10 + (text[digits] - '0'), kSaturated);
  if (digits == 0) return std::nullopt;
  return static_cast<int>(std::clamp<std::int64_t>(negative ? -magnitude : magnitude, INT_MIN, INT_MAX));
}

struct StoredValue {
  std::string_view section;
  std::string_view key;
  std::string value;
};

std::string WithKeysSet(const std::string& content, const std::vector<StoredValue>& values) {
  std::string result = content;
  for (const StoredValue& v : values) result = WithKeySet(result, v.section, v.key, v.value);
  return result;
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, const std::string& path) {
  try {
    std::string content;
    if (ReadWholeFile(path, content) != ReadOutcome::kRead) return std::string(defaultText);
    const auto value = FindValue(content, section, key);
    return std::string(value.value_or(defaultText));
  } catch (const std::exception&) {
    return std::string(defaultText);
  }
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path) {
  try {
    std::string content;
    if (ReadWholeFile(path, content) != ReadOutcome::kRead) return defaultValue;
    const auto value = FindValue(content, section, key);
    if (!value) return defaultValue;
    return ParseLeadingInt(*value).value_or(defaultValue);
  } catch (const std::exception&) {
    return defaultValue;
  }
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path) {
  const ProfileValue one{section, key, value};
  return WritePrivateProfileStrings({&one, 1}, path);
}

bool WritePrivateProfileStrings(std::span<const ProfileValue> values, const std::string& path) {
  try {
    std::vector<StoredValue> stored;
    for (const ProfileValue& v : values) {
      const std::string_view section = Trim(v.section), key = Trim(v.key);
      if (CanBeStored(section, key, v.value)) stored.push_back({section, key, StoredForm(v.value)});
    }
    if (stored.empty()) return values.empty();
    const bool written =
        RewriteFile(path, [&](const std::string& content) { return WithKeysSet(content, stored); });
    return written && stored.size() == values.size();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace platform
