#include "ui/text_order.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>

namespace {

bool OnlyDigitsAndStops(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool StartsWithLetter(std::string_view text) {
  if (text.empty()) return false;
  const unsigned char first = static_cast<unsigned char>(text[0]);
  if (first < 0x80) return (first | 0x20) >= 'a' && (first | 0x20) <= 'z';
  const QString head = ToQString(text.substr(0, std::min<std::size_t>(4, text.size())));
  if (head.isEmpty()) return false;
  if (head.size() > 1 && head[0].isHighSurrogate()) return QChar::isLetter(QChar::surrogateToUcs4(head[0], head[1]));
  return head[0].isLetter();
}

}  // namespace

std::vector<std::uint32_t> RankTexts(const std::vector<std::string_view>& texts) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseSensitive);
  // The C locale compares code points, which UTF-8 bytes keep in order.
  const bool byBytes = collator.locale().language() == QLocale::C;

  std::vector<std::uint32_t> simple, named;
  for (std::uint32_t i = 0; i < texts.size(); ++i)
    (byBytes || OnlyDigitsAndStops(texts[i]) ? simple : named).push_back(i);
  std::sort(simple.begin(), simple.end(), [&texts](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });

  std::vector<QCollatorSortKey> keys;
  keys.reserve(named.size());
  for (const std::uint32_t i : named) keys.push_back(collator.sortKey(ToQString(texts[i])));
  std::vector<std::uint32_t> byKey(named.size());
  for (std::uint32_t k = 0; k < byKey.size(); ++k) byKey[k] = k;
  std::sort(byKey.begin(), byKey.end(), [&keys](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });

  // Merge the two orders; only here does an address meet a name. Every
  // locale puts digits and punctuation before letters, so a name that
  // starts with a letter comes after every address without asking.
  std::vector<std::uint32_t> rank(texts.size());
  std::size_t s = 0, n = 0;
  std::uint32_t position = 0;
  int previous = -1;  // kind of the text ranked last: 0 simple, 1 named
  std::uint32_t previousIndex = 0;
  const auto sameAsPrevious = [&](int kind, std::uint32_t index, std::uint32_t key) {
    if (previous < 0) return false;
    if (kind == 1 && previous == 1) return keys[key].compare(keys[byKey[n - 1]]) == 0;
    if (kind == 0 && previous == 0) return false;  // distinct bytes
    if (StartsWithLetter(texts[index]) || StartsWithLetter(texts[previousIndex])) return false;
    return collator.compare(ToQString(texts[index]), ToQString(texts[previousIndex])) == 0;
  };
  while (s < simple.size() || n < named.size()) {
    bool takeSimple = n == named.size();
    if (s < simple.size() && n < named.size()) {
      const std::string_view name = texts[named[byKey[n]]];
      takeSimple = StartsWithLetter(name) || collator.compare(ToQString(texts[simple[s]]), ToQString(name)) <= 0;
    }
    const int kind = takeSimple ? 0 : 1;
    const std::uint32_t key = takeSimple ? 0 : byKey[n];
    const std::uint32_t index = takeSimple ? simple[s] : named[key];
    const bool same = sameAsPrevious(kind, index, key);
    rank[index] = same ? rank[previousIndex] : position;
    ++position;
    previous = kind;
    previousIndex = index;
    takeSimple ? ++s : ++n;
  }
  return rank;
}
