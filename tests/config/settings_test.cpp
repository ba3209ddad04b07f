#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <random>
#include <string>
#include <thread>

#include "platform/profile.h"
#include "config/temp_settings_file.h"
#include "support/child_process.h"

namespace {

class SettingsTest : public TempSettingsFile {
 protected:
  // Loads the settings from the file and saves them back on the way out.
  template <class Check>
  void LoadAndSave(Check check) {
    CSettings settings(path_);
    check(settings);
  }

  std::string StoredValue(const char* section, const char* key) const {
    return platform::GetPrivateProfileString(section, key, "<missing>", path_);
  }
};

constexpr const char* kFirstRunFile =
    "[main]\n"
    "alwaysontop=0\nnsresolve=0\nportresolve=0\nadapternum=0\nunits=0\nautostart=0\n"
    "nopromiscuous=0\nidleseconds=10\nhistorysize=100000\n"
    "\n[filters]\n"
    "filtertcp=0\nfilterudp=0\nfiltericmp=0\n"
    "\n[mainwindow]\n"
    "status=-1\ntop=-1\nbottom=-1\nleft=-1\nright=-1\n"
    "\n[list]\n"
    "srcaddr=120\ndestaddr=120\nsrcport=80\ndestport=80\nproto=50\ntraffic=100\npackets=90\n"
    "bs=80\nabs=80\nprocess=120\nuser=80\nshowprocess=1\nshowuser=1\n"
    "\n[log]\n"
    "uselogfile=0\nautodelete=0\nmbdelete=1\nlogtype=0\nlogfile=\n";

TEST_F(SettingsTest, FirstRunTakesDefaultsAndSavesEveryKeyInOrder) {
  LoadAndSave([](const CSettings& s) {
    EXPECT_EQ(s.idlemsec, 10000u);
    EXPECT_EQ(s.mbdelete, 1);
    EXPECT_EQ(s.logSizeLimit, 1048576u);
    EXPECT_EQ(s.logtype, 0);
    EXPECT_EQ(s.paused, 0);
    EXPECT_EQ(s.adapternum, 0);
    const std::int32_t placement[] = {s.status, s.top, s.bottom, s.left, s.right};
    for (std::int32_t value : placement) EXPECT_EQ(value, -1);
    const std::int32_t widths[] = {s.srcaddr, s.destaddr, s.srcport, s.destport, s.proto, s.traffic,
                                   s.packets, s.bs,       s.abs,     s.process,  s.user};
    const std::int32_t expectedWidths[] = {120, 120, 80, 80, 50, 100, 90, 80, 80, 120, 80};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(widths[i], expectedWidths[i]) << "column " << i;
    EXPECT_EQ(s.showprocess, 1);
    EXPECT_EQ(s.showuser, 1);
    EXPECT_STREQ(s.logfile, "");
    EXPECT_EQ(s.historysize, 100000);
  });
  EXPECT_EQ(Stored(), kFirstRunFile);
}

// 0 keeps no history; a size past ten million, or below 0, is a mistake.
TEST_F(SettingsTest, HistorySizeOutOfRangeTakesTheDefault) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"0", 0}, {"10000000", 10000000}, {"10000001", 100000}, {"-1", 100000}, {"x", 100000}};
  for (const auto& c : cases) {
    Store(std::string("[main]\nhistorysize=") + c.first + "\n");
    LoadAndSave([&](const CSettings& s) { EXPECT_EQ(s.historysize, c.second) << c.first; });
  }
}

TEST_F(SettingsTest, OutOfRangeLogValuesAreCorrectedOnLoad) {
  const struct {
    const char* mbdelete;
    const char* logtype;
    std::int32_t expectedMbdelete;
    std::uint32_t expectedLimit;
    std::int32_t expectedLogtype;
  } cases[] = {
      {"0", "9", 1, 1048576u, 0},       {"1000", "-1", 1, 1048576u, 0},
      {"-5", "8", 1, 1048576u, 8},      {"999", "0", 999, 1047527424u, 0},
      {"abc", "abc", 1, 1048576u, 0},
  };
  for (const auto& c : cases) {
    Store(std::string("[log]\nmbdelete=") + c.mbdelete + "\nlogtype=" + c.logtype + "\n");
    LoadAndSave([&](const CSettings& s) {
      EXPECT_EQ(s.mbdelete, c.expectedMbdelete) << c.mbdelete;
      EXPECT_EQ(s.logSizeLimit, c.expectedLimit) << c.mbdelete;
      EXPECT_EQ(s.logtype, c.expectedLogtype) << c.logtype;
    });
  }
}

TEST_F(SettingsTest, IdleTimeIsStoredInWholeSeconds) {
  const struct {
    const char* file;
    std::uint32_t expectedMsec;
    const char* savedSeconds;
  } cases[] = {
      {"[main]\nidleseconds=0\n", 0u, "0"},
      {"[main]\nidleseconds=\n", 0u, "0"},
      {"[main]\n", 10000u, "10"},
      {"[main]\nidleseconds=1500\n", 1500000u, "1500"},
      // No range check: the product wraps in 32 bits.
      {"[main]\nidleseconds=4294968\n", 704u, "0"},
  };
  for (const auto& c : cases) {
    Store(c.file);
    LoadAndSave([&](const CSettings& s) { EXPECT_EQ(s.idlemsec, c.expectedMsec) << c.file; });
    EXPECT_EQ(StoredValue("main", "idleseconds"), c.savedSeconds) << c.file;
  }

  LoadAndSave([](CSettings& s) { s.idlemsec = 2500; });
  EXPECT_EQ(StoredValue("main", "idleseconds"), "2");
}

TEST_F(SettingsTest, PauseNeverSurvivesARestart) {
  LoadAndSave([](CSettings& s) { s.paused = 1; });
  EXPECT_EQ(Stored().find("paused"), std::string::npos);
  LoadAndSave([](const CSettings& s) { EXPECT_EQ(s.paused, 0); });

  Store("[main]\npaused=1\n");
  LoadAndSave([](const CSettings& s) { EXPECT_EQ(s.paused, 0); });
}

TEST_F(SettingsTest, ChangedFieldsReachTheFileAndComeBack) {
  LoadAndSave([](CSettings& s) {
    s.top = -20;
    s.filterudp = 1;
    s.units = 3;
    s.mbdelete = 12;
    s.UpdateLogSizeLimit();
    std::strcpy(s.logfile, "/home/user/流量 log.txt");
    EXPECT_EQ(s.logSizeLimit, 12u * 1048576u);
  });
  LoadAndSave([](const CSettings& s) {
    EXPECT_EQ(s.top, -20);
    EXPECT_EQ(s.filterudp, 1);
    EXPECT_EQ(s.units, 3);
    EXPECT_EQ(s.logSizeLimit, 12u * 1048576u);
    EXPECT_STREQ(s.logfile, "/home/user/流量 log.txt");
  });
}

// A Linux path reaches 4095 bytes; the log's is kept whole. One byte more
// than the field holds is cut, as any value read into it.
TEST_F(SettingsTest, LogPathOfTheLongestLinuxPathIsKeptWhole) {
  const std::string longest = "/" + std::string(4094, 'd');
  Store("[log]\nlogfile=" + longest + "x\n");
  LoadAndSave([&](CSettings& s) {
    EXPECT_EQ(std::string(s.logfile), longest);
    std::strcpy(s.logfile, ("/流量" + std::string(4088, 'e')).c_str());
  });
  LoadAndSave([](const CSettings& s) { EXPECT_EQ(std::string(s.logfile), "/流量" + std::string(4088, 'e')); });
}

// A file edited by hand, in pieces: the save adds the missing keys after
// each piece and must leave the pieces themselves as they were.
constexpr const char* kHandEditedMain =
    "; edited by hand\r\n"
    "[Main]\r\n"
    "AlwaysOnTop = 1\r\n"
    "  idleSeconds=  30\r\n"
    "Adapternum = -1\r\n"
    "a line that means nothing\r\n"
    "futurekey=keep\r\n";
constexpr const char* kHandEditedUnknown =
    "\r\n"
    "[unknown section]\r\n"
    "whatever=1\r\n"
    "# a note\r\n"
    "\r\n"
    "[LOG]\r\n";
constexpr const char* kHandEditedLogTail =
    "MBDELETE=5\r\n"
    "; ends here\r\n";

TEST_F(SettingsTest, HandEditedFileLoadsAndKeepsItsOwnLines) {
  const std::string logfileLine = "logfile = \"/var/log/quorvel traffic.log\"\r\n";
  Store(std::string(kHandEditedMain) + kHandEditedUnknown + logfileLine + kHandEditedLogTail);
  LoadAndSave([](const CSettings& s) {
    EXPECT_EQ(s.alwaysontop, 1);
    EXPECT_EQ(s.idlemsec, 30000u);
    EXPECT_EQ(s.adapternum, -1);
    EXPECT_EQ(s.mbdelete, 5);
    EXPECT_STREQ(s.logfile, "/var/log/quorvel traffic.log");
    EXPECT_EQ(s.srcaddr, 120);
  });
  EXPECT_EQ(Stored(),
            std::string(kHandEditedMain) +
                "nsresolve=0\r\nportresolve=0\r\nunits=0\r\nautostart=0\r\nnopromiscuous=0\r\nhistorysize=100000\r\n" +
                kHandEditedUnknown +
                // The value needs no quotes to read back, so it is written without.
                "logfile = /var/log/quorvel traffic.log\r\n" + kHandEditedLogTail +
                "uselogfile=0\r\nautodelete=0\r\nlogtype=0\r\n"
                "\r\n[filters]\r\n"
                "filtertcp=0\r\nfilterudp=0\r\nfiltericmp=0\r\n"
                "\r\n[mainwindow]\r\n"
                "status=-1\r\ntop=-1\r\nbottom=-1\r\nleft=-1\r\nright=-1\r\n"
                "\r\n[list]\r\n"
                "srcaddr=120\r\ndestaddr=120\r\nsrcport=80\r\ndestport=80\r\nproto=50\r\n"
                "traffic=100\r\npackets=90\r\nbs=80\r\nabs=80\r\nprocess=120\r\nuser=80\r\n"
                "showprocess=1\r\nshowuser=1\r\n");
}

// Files made in the folder while `body` runs: a rewrite makes one
// temporary file. (Renames are no count: the kernel may merge their events.)
template <class Body>
int FilesMadeIn(const std::filesystem::path& folder, Body body) {
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_CREATE) < 0) return -1;
  body();
  int made = 0;
  alignas(inotify_event) char events[64 * 1024];
  for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;) {
    for (char* at = events; at < events + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
      ++made;
  }
  close(watch);
  return made;
}

TEST_F(SettingsTest, SavingIsOneRewriteOfTheFile) {
  Store(kFirstRunFile);
  EXPECT_EQ(FilesMadeIn(folder_, [&] { LoadAndSave([](CSettings& s) { s.units = 2; s.logtype = 7; }); }), 1);
  EXPECT_EQ(StoredValue("main", "units"), "2");
  EXPECT_EQ(StoredValue("log", "logtype"), "7");
}

// The settings of one run, all of one generation: the first key, one in
// the middle and the last one tell whether a file holds one run's settings
// or parts of two.
void SetGeneration(CSettings& s, int generation) {
  s.alwaysontop = generation;
  s.srcaddr = 100 + generation;
  std::snprintf(s.logfile, sizeof s.logfile, "generation %d", generation);
}

// Whether a writer left a temporary file beside the settings.
bool TemporaryBeside(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("quorvel.dat.tmp-", 0) == 0) return true;
  return false;
}

// A process killed at any moment of its save leaves the settings of the
// run before or of its own run, never some keys of each; and the
// temporary file it may leave goes at the next save. The saver loads and
// saves without end and is killed at a random moment of its first few
// rounds (timed in this build, sanitizers and all), until a few kills
// have landed inside a save: the sync makes a save most of a round.
TEST_F(SettingsTest, AKillDuringTheSaveLeavesOneRunsSettingsWhole) {
  Store(std::string(kFirstRunFile) + "; " + std::string(64 << 10, 'x') + "\n");
  const auto started = std::chrono::steady_clock::now();
  LoadAndSave([](CSettings& s) { SetGeneration(s, 0); });
  const auto round = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  std::mt19937 random(7);
  constexpr int kKillsInASave = 4;
  int killsInASave = 0;
  // Under the thread sanitizer few kills land inside a save: it may take
  // many more tries, each ended as soon as enough have.
  for (int kill = 1; kill <= 800 && killsInASave < kKillsInASave; ++kill) {
    ChildProcess saver = ChildProcess::Fork([&] {
      for (int generation = 1;; ++generation) {
        CSettings settings(path_);
        SetGeneration(settings, generation);
      }
      return 0;
    });
    ASSERT_TRUE(saver.Started());
    std::this_thread::sleep_for(round / 2 + round * (random() % 300) / 100);
    saver.Kill();
    if (TemporaryBeside(folder_)) ++killsInASave;
    const std::string first = StoredValue("main", "alwaysontop"), middle = StoredValue("list", "srcaddr"),
                      last = StoredValue("log", "logfile");
    const int generation = std::atoi(first.c_str());
    const bool whole = middle == std::to_string(100 + generation) && last == "generation " + first;
    ASSERT_TRUE(whole) << "kill " << kill << ": " << first << ", " << middle << ", " << last;
    ASSERT_GT(std::filesystem::file_size(path_), std::uintmax_t{64} << 10);
  }
  EXPECT_EQ(killsInASave, kKillsInASave) << "too few kills landed inside a save";
  LoadAndSave([](CSettings& s) { SetGeneration(s, 0); });
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    EXPECT_EQ(entry.path().filename(), "quorvel.dat") << "left behind";
}

TEST_F(SettingsTest, UnwritableFileLosesOnlyThisRun) {
  const std::string nowhere = (folder_ / "no such folder" / "quorvel.dat").string();
  {
    CSettings settings(nowhere);
    settings.alwaysontop = 1;
  }
  EXPECT_FALSE(std::filesystem::exists(nowhere));
  EXPECT_EQ(CSettings(nowhere).alwaysontop, 0);
}

}  // namespace
