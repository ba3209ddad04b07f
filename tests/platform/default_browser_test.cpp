#include "platform/default_browser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "config/temp_settings_file.h"

namespace {

using Words = std::vector<std::string>;

struct CutCase {
  const char* exec;
  const char* kept;
};

// As with a registered "%1": the placeholder, its quotes and everything
// after it go; what precedes stays, its space included, so that appending
// a space and the address gives two spaces before it.
TEST(DefaultBrowserTest, ExecLineIsCutAtItsFirstFieldCode) {
  const CutCase cases[] = {
      {"firefox-esr %u", "firefox-esr "},
      {"/opt/web/browser \"%U\"", "/opt/web/browser "},
      {"browser %f", "browser "},
      {"browser \"%F\" --later %u", "browser "},
      {"browser --new-window %U --private", "browser --new-window "},
      {"browser --url=%u", "browser --url="},
      {"browser", "browser"},
      {"browser --incognito ", "browser --incognito "},
      {"%u", ""},
      {"browser %i %u", "browser %i "},
      {"printf 100%% %u", "printf 100%% "},
      {"browser %%u", "browser %%u"},
      {"browser \"%u", "browser \""},
      {"browser %", "browser %"},
      {"", ""},
  };
  for (const CutCase& c : cases) EXPECT_EQ(platform::CutAtFieldCode(c.exec), c.kept) << c.exec;
}

struct SplitCase {
  const char* line;
  Words words;
};

TEST(DefaultBrowserTest, CommandLineSplitsByTheQuotingOfExecLines) {
  const SplitCase cases[] = {
      {"firefox-esr ", {"firefox-esr"}},
      {"\"/opt/My Browser/browser\" --new-window ", {"/opt/My Browser/browser", "--new-window"}},
      {"sh -c \"echo \\\"hi\\\" \\$HOME \\\\ \\n\"", {"sh", "-c", "echo \"hi\" $HOME \\ \\n"}},
      {"browser\t --a  --b", {"browser", "--a", "--b"}},
      {"browser \"\" x", {"browser", "", "x"}},
      {"browser --x=\"a b\"c", {"browser", "--x=a bc"}},
      {"browser %i --title %c 100%%", {"browser", "--title", "100%"}},
      {"browser \"unterminated arg", {"browser", "unterminated arg"}},
      {"  ", {}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(platform::SplitCommandLine(c.line), c.words) << c.line;
}

struct EntryCase {
  const char* name;
  const char* entry;
  std::optional<std::string> exec;
};

TEST(DefaultBrowserTest, ExecComesFromTheDesktopEntryGroupWithItsEscapesResolved) {
  const EntryCase cases[] = {
      {"plain", "[Desktop Entry]\nName=Web\nExec=browser %u\nType=Application\n", "browser %u"},
      {"actions after it",
       "# comment\n[Desktop Entry]\nExec = browser %U \n\n[Desktop Action new]\nExec=browser --new %U\n",
       "browser %U"},
      {"only in an action", "[Desktop Entry]\nName=Web\n[Desktop Action new]\nExec=browser %u\n", std::nullopt},
      {"escapes", "[Desktop Entry]\r\nExec=\"/opt/my\\sweb/browser\" --x=\\\\ %u\r\n",
       "\"/opt/my web/browser\" --x=\\ %u"},
      {"hidden", "[Desktop Entry]\nExec=browser %u\nHidden=true\n", std::nullopt},
      {"no exec", "[Desktop Entry]\nName=Web\n", std::nullopt},
      {"empty exec", "[Desktop Entry]\nExec=\n", std::nullopt},
      {"localised key is another key", "[Desktop Entry]\nExec[de]=browser %u\n", std::nullopt},
  };
  for (const EntryCase& c : cases) EXPECT_EQ(platform::DesktopEntryExec(c.entry), c.exec) << c.name;
}

TEST(DefaultBrowserTest, DefaultsComeFromTheirOwnGroupInTheirOrder) {
  const char* list =
      "[Added Associations]\n"
      "text/html=added.desktop;\n"
      "[Default Applications]\n"
      "text/plain=editor.desktop\n"
      "Text/HTML = first.desktop; second.desktop;;\n"
      "text/html=ignored.desktop\n";
  EXPECT_EQ(platform::DefaultApplications(list, "text/html"), (Words{"first.desktop", "second.desktop"}));
  EXPECT_EQ(platform::DefaultApplications(list, "image/png"), Words{});
}

TEST(DefaultBrowserTest, ListsAreAskedInTheFreedesktopOrder) {
  platform::XdgFolders folders{"/home/u/.config", {"/etc/xdg", "/etc/xdg2"}, "/home/u/.local/share",
                               {"/usr/share"}, {"kde", "gnome"}};
  EXPECT_EQ(platform::MimeAppsListPaths(folders),
            (Words{"/home/u/.config/kde-mimeapps.list", "/home/u/.config/gnome-mimeapps.list",
                   "/home/u/.config/mimeapps.list", "/etc/xdg/kde-mimeapps.list", "/etc/xdg/gnome-mimeapps.list",
                   "/etc/xdg/mimeapps.list", "/etc/xdg2/kde-mimeapps.list", "/etc/xdg2/gnome-mimeapps.list",
                   "/etc/xdg2/mimeapps.list", "/home/u/.local/share/applications/kde-mimeapps.list",
                   "/home/u/.local/share/applications/gnome-mimeapps.list",
                   "/home/u/.local/share/applications/mimeapps.list", "/usr/share/applications/kde-mimeapps.list",
                   "/usr/share/applications/gnome-mimeapps.list", "/usr/share/applications/mimeapps.list"}));
}

// Sets environment variables for one test and puts them back after it.
class ScopedEnvironment {
 public:
  void Set(const char* name, const char* value) {
    const char* old = getenv(name);
    m_saved.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(DefaultBrowserTest, FoldersComeFromTheEnvironmentOrTheirDefaults) {
  ScopedEnvironment environment;
  environment.Set("HOME", "/home/u");
  environment.Set("XDG_CONFIG_HOME", nullptr);
  environment.Set("XDG_CONFIG_DIRS", "");
  environment.Set("XDG_DATA_HOME", "relative/data");
  environment.Set("XDG_DATA_DIRS", "/opt/share:relative:/usr/share");
  environment.Set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
  const platform::XdgFolders folders = platform::XdgFoldersFromEnvironment();
  EXPECT_EQ(folders.configHome, "/home/u/.config");
  EXPECT_EQ(folders.configDirs, Words{"/etc/xdg"});
  EXPECT_EQ(folders.dataHome, "/home/u/.local/share") << "a relative path is not valid there";
  EXPECT_EQ(folders.dataDirs, (Words{"/opt/share", "/usr/share"}));
  EXPECT_EQ(folders.desktops, (Words{"ubuntu", "gnome"}));

  environment.Set("XDG_CONFIG_HOME", "/cfg");
  environment.Set("XDG_DATA_DIRS", nullptr);
  environment.Set("XDG_CURRENT_DESKTOP", nullptr);
  const platform::XdgFolders set = platform::XdgFoldersFromEnvironment();
  EXPECT_EQ(set.configHome, "/cfg");
  EXPECT_EQ(set.dataDirs, (Words{"/usr/local/share", "/usr/share"}));
  EXPECT_TRUE(set.desktops.empty());
}

// The user's and the system's folders, made in a temporary folder.
class DefaultBrowserFilesTest : public TempSettingsFile {
 protected:
  DefaultBrowserFilesTest()
      : folders_{Path("home/config"), {Path("etc/xdg")}, Path("home/data"), {Path("usr/share")}, {"gnome"}} {}

  std::string Path(const std::string& relative) const { return (folder_ / relative).string(); }
  void Write(const std::string& relative, const std::string& text) const {
    std::filesystem::create_directories((folder_ / relative).parent_path());
    std::ofstream(folder_ / relative) << text;
  }
  static std::string List(const std::string& ids) { return "[Default Applications]\ntext/html=" + ids + "\n"; }
  static std::string Entry(const std::string& exec) { return "[Desktop Entry]\nType=Application\nExec=" + exec + "\n"; }

  platform::XdgFolders folders_;
};

TEST_F(DefaultBrowserFilesTest, FirstInstalledDefaultOfTheFirstListThatNamesOneWins) {
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "") << "no list at all";

  Write("usr/share/applications/mimeapps.list", List("system.desktop"));
  Write("usr/share/applications/system.desktop", Entry("system-browser %u"));
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "system-browser %u");

  // The user's own list comes first; an id it names that is not installed
  // gives way to the next one, found among the user's or the system's entries.
  Write("home/config/mimeapps.list", List("missing.desktop;vendor-web.desktop"));
  Write("usr/share/applications/vendor/web.desktop", Entry("\"/opt/vendor web/browser\" %U"));
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "\"/opt/vendor web/browser\" %U");
  Write("home/data/applications/vendor-web.desktop", Entry("own-browser %u"));
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "own-browser %u");

  // The desktop's own list before the plain one in the same folder.
  Write("home/config/gnome-mimeapps.list", List("gnome-web.desktop"));
  Write("usr/share/applications/gnome-web.desktop", Entry("gnome-web %u"));
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "gnome-web %u");

  // Ids that would leave the applications folders are not looked up.
  Write("home/config/gnome-mimeapps.list", List("../../escape.desktop;.hidden.desktop"));
  Write("home/escape.desktop", Entry("escaped %u"));
  EXPECT_EQ(platform::DefaultBrowserExec(folders_), "own-browser %u");
}

}  // namespace
