#include "ui/url_opener.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Openers that record what they were asked, the desktop's failing or not.
struct RecordingOpeners {
  UrlOpeners Openers(bool desktopWorks, std::string exec) {
    return {[this, desktopWorks](const QUrl& url) {
              desktopUrls.push_back(url.toString().toStdString());
              return desktopWorks;
            },
            [exec] { return exec; },
            [this](const QString& program, const QStringList& arguments) {
              started.push_back(program);
              started += arguments;
              return true;
            }};
  }
  std::vector<std::string> desktopUrls;
  QStringList started;
};

struct OpenCase {
  const char* name;
  bool desktopWorks;
  const char* exec;
  QStringList started;  // empty: nothing started
  bool opened;
};

TEST(UrlOpenerTest, DesktopFirstThenTheDefaultBrowserWithTheAddressAsItsOwnArgument) {
  const QString url = QStringLiteral("https://www.quorvel.example/a b?x=\"1\"");
  const OpenCase cases[] = {
      {"desktop opens it", true, "browser %u", {}, true},
      {"default browser", false, "firefox-esr %u", {"firefox-esr", url}, true},
      {"quoted path and placeholder", false, "\"/opt/web browser/browser\" --new-window \"%U\" --private",
       {"/opt/web browser/browser", "--new-window", url}, true},
      {"no placeholder", false, "browser --incognito", {"browser", "--incognito", url}, true},
      {"no default browser", false, "", {}, false},
      {"nothing before the placeholder", false, "%u", {}, false},
      {"empty program", false, "\"\" %u", {}, false},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingOpeners record;
    EXPECT_EQ(GotoURL(url, record.Openers(c.desktopWorks, c.exec)), c.opened);
    EXPECT_EQ(record.desktopUrls.size(), 1u);
    EXPECT_EQ(record.started, c.started);
  }
}

}  // namespace
