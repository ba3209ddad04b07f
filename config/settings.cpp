#include "config/settings.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr std::int32_t kMinLogMegabytes = 1;
constexpr std::int32_t kMaxLogMegabytes = 999;
constexpr std::int32_t kLastLogType = 8;
constexpr int kBytesPerMegabyteShift = 20;
// About 100 bytes each: ten million is a gigabyte.
constexpr std::int32_t kDefaultHistorySize = 100000;
constexpr std::int32_t kMaxHistorySize = 10000000;

// The one list of stored settings with their defaults: loading, saving and
// the order of keys in a new file all follow it.
template <class Visitor>
void ForEachStoredSetting(CSettings& s, Visitor& visit) {
  visit.Int("main", "alwaysontop", s.alwaysontop, 0);
  visit.Int("main", "nsresolve", s.nsresolve, 0);
  visit.Int("main", "portresolve", s.portresolve, 0);
  visit.Int("main", "adapternum", s.adapternum, 0);
  visit.Int("main", "units", s.units, 0);
  visit.Int("main", "autostart", s.autostart, 0);
  visit.Int("main", "nopromiscuous", s.nopromiscuous, 0);
  visit.Seconds("main", "idleseconds", s.idlemsec, 10);
  visit.Int("main", "historysize", s.historysize, kDefaultHistorySize);
  visit.Int("filters", "filtertcp", s.filtertcp, 0);
  visit.Int("filters", "filterudp", s.filterudp, 0);
  visit.Int("filters", "filtericmp", s.filtericmp, 0);
  visit.Int("mainwindow", "status", s.status, -1);
  visit.Int("mainwindow", "top", s.top, -1);
  visit.Int("mainwindow", "bottom", s.bottom, -1);
  visit.Int("mainwindow", "left", s.left, -1);
  visit.Int("mainwindow", "right", s.right, -1);
  visit.Int("list", "srcaddr", s.srcaddr, 120);
  visit.Int("list", "destaddr", s.destaddr, 120);
  visit.Int("list", "srcport", s.srcport, 80);
  visit.Int("list", "destport", s.destport, 80);
  visit.Int("list", "proto", s.proto, 50);
  visit.Int("list", "traffic", s.traffic, 100);
  visit.Int("list", "packets", s.packets, 90);
  visit.Int("list", "bs", s.bs, 80);
  visit.Int("list", "abs", s.abs, 80);
  visit.Int("list", "process", s.process, 120);
  visit.Int("list", "user", s.user, 80);
  visit.Int("list", "showprocess", s.showprocess, 1);
  visit.Int("list", "showuser", s.showuser, 1);
  visit.Int("log", "uselogfile", s.uselogfile, 0);
  visit.Int("log", "autodelete", s.autodelete, 0);
  visit.Int("log", "mbdelete", s.mbdelete, 1);
  visit.Int("log", "logtype", s.logtype, 0);
  visit.Text("log", "logfile", s.logfile);
}

class Loader {
 public:
  explicit Loader(const CIniFile& file) : file_(file) {}

  template <class Field>
  void Int(const char* section, const char* key, Field& field, std::int32_t defaultValue) {
    field = file_.GetInt(section, key, defaultValue);
  }
  // Unsigned arithmetic, unchecked: a huge stored value wraps as it always has.
  void Seconds(const char* section, const char* key, std::atomic<std::uint32_t>& milliseconds,
               std::uint32_t defaultSeconds) {
    milliseconds = file_.GetUInt(section, key, defaultSeconds) * kMillisecondsPerSecond;
  }
  template <std::size_t Size>
  void Text(const char* section, const char* key, char (&field)[Size]) {
    file_.GetString(section, key, "", field, static_cast<int>(Size));
  }

 private:
  const CIniFile& file_;
};

// Collects every key with the text its Write call would store, for one
// rewrite of the file. Write failures are ignored: a settings file that
// cannot be written only loses this run's changes.
class Saver {
 public:
  template <class Field>
  void Int(const char* section, const char* key, const Field& field, std::int32_t) {
    values_.push_back({section, key, std::to_string(static_cast<std::int32_t>(field))});
  }
  void Seconds(const char* section, const char* key, const std::atomic<std::uint32_t>& milliseconds,
               std::uint32_t) {
    values_.push_back({section, key, std::to_string(milliseconds / kMillisecondsPerSecond)});
  }
  template <std::size_t Size>
  void Text(const char* section, const char* key, const char (&field)[Size]) {
    values_.push_back({section, key, std::string(field, strnlen(field, Size))});
  }

  const std::vector<CIniFile::Value>& Values() const { return values_; }

 private:
  std::vector<CIniFile::Value> values_;
};

}  // namespace

CSettings::CSettings() { Load(); }

CSettings::CSettings(std::string path) : CIniFile(std::move(path)) { Load(); }

CSettings::~CSettings() { Save(); }

void CSettings::UpdateLogSizeLimit() {
  logSizeLimit = static_cast<std::uint32_t>(mbdelete) << kBytesPerMegabyteShift;
}

void CSettings::Load() {
  Loader loader(*this);
  ForEachStoredSetting(*this, loader);
  if (mbdelete < kMinLogMegabytes || mbdelete > kMaxLogMegabytes) mbdelete = kMinLogMegabytes;
  UpdateLogSizeLimit();
  if (logtype < 0 || logtype > kLastLogType) logtype = 0;
  if (historysize < 0 || historysize > kMaxHistorySize) historysize = kDefaultHistorySize;
  paused = 0;
}

void CSettings::Save() {
  Saver saver;
  ForEachStoredSetting(*this, saver);
  WriteValues(saver.Values());
}
