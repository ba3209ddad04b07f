#include "ui/text_order.h"

#include <gtest/gtest.h>

#include <QCollator>
#include <QLocale>
#include <string>
#include <vector>

namespace {

int Sign(long long value) { return (value > 0) - (value < 0); }

// The ranks order every pair of texts exactly as the locale's collator
// does, addresses, names and names that start like addresses mixed.
TEST(RankTexts, AgreesWithTheLocalesCollatorOnEveryPair) {
  const std::vector<std::string> owned = {
      "10.0.0.2", "10.0.0.10", "10.0.0.1", "9.1.1.1", "", "beta.lan", "Alpha.lan", "alpha.lan", "1e100.net",
      "_gateway", "-x", "Ölhafen.de", "ölhafen.de", "路由器", "TCP", "UDP", "ICMP", "10.0.0.1a", "0", ".1",
  };
  const std::vector<std::string_view> texts(owned.begin(), owned.end());
  const QLocale previous;
  for (const char* locale : {"C", "en_US", "de_DE", "zh_CN"}) {
    SCOPED_TRACE(locale);
    QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    const std::vector<std::uint32_t> rank = RankTexts(texts);
    for (std::size_t a = 0; a < texts.size(); ++a)
      for (std::size_t b = 0; b < texts.size(); ++b) {
        const int expected =
            Sign(collator.compare(QString::fromStdString(owned[a]), QString::fromStdString(owned[b])));
        EXPECT_EQ(Sign(static_cast<long long>(rank[a]) - static_cast<long long>(rank[b])), expected)
            << '"' << owned[a] << "\" against \"" << owned[b] << '"';
      }
  }
  QLocale::setDefault(previous);
}

}  // namespace
