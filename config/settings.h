#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ini_file.h"

// Every persistent setting of the program. Loaded from the settings file
// when constructed and written back, all keys at once, when destroyed; in
// between the rest of the program reads and changes the fields directly.
// Each field bears the name of its key, except `idlemsec` (stored in seconds
// as "idleseconds") and `paused` (never stored).
//
// The capture thread reads the atomic fields while the UI thread changes
// them; a reader that sees the old value for one more packet is fine.
// `logfile` is replaced only under the connection table's lock, which the
// capture thread holds when it reads it.
class CSettings : public CIniFile {
 public:
  // The settings file beside the executable.
  CSettings();
  explicit CSettings(std::string path);
  ~CSettings() override;

  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  // Recomputes `logSizeLimit` from `mbdelete`; called whenever `mbdelete`
  // changes.
  void UpdateLogSizeLimit();

  std::int32_t alwaysontop{};
  std::int32_t nsresolve{};
  std::int32_t portresolve{};
  // Idle time after which a connection leaves the list.
  std::atomic<std::uint32_t> idlemsec{};
  // Index in the adapter selector; -1: none chosen.
  std::int32_t adapternum{};
  std::int32_t autostart{};
  std::int32_t nopromiscuous{};
  // Amounts in 0 bytes, 1 K, 2 M, 3 whichever fits.
  std::atomic<std::int32_t> units{};
  // Nonzero: packets of the protocol are not accounted.
  std::atomic<std::int32_t> filterudp{};
  std::atomic<std::int32_t> filtertcp{};
  std::atomic<std::int32_t> filtericmp{};
  // Nonzero: no new connections are added. Starts at 0 every run.
  std::atomic<std::int32_t> paused{};
  // The main window's show state and restored rectangle; -1: never stored.
  std::int32_t status{};
  std::int32_t top{};
  std::int32_t bottom{};
  std::int32_t left{};
  std::int32_t right{};
  // Widths of the list columns in pixels.
  std::int32_t srcaddr{};
  std::int32_t destaddr{};
  std::int32_t srcport{};
  std::int32_t destport{};
  std::int32_t proto{};
  std::int32_t traffic{};
  std::int32_t packets{};
  std::int32_t bs{};
  std::int32_t abs{};
  std::int32_t process{};
  std::int32_t user{};
  // Nonzero: the column of the connection's program, or of its user, is
  // shown (the header's menu hides and shows them).
  std::int32_t showprocess{};
  std::int32_t showuser{};
  std::atomic<std::int32_t> uselogfile{};
  // Kept and shown by the settings dialog; the log's size limit applies
  // whether it is set or not.
  std::int32_t autodelete{};
  // Packet log size limit in megabytes, 1 to 999.
  std::int32_t mbdelete{};
  // Packet log layout, 0 to 8.
  std::atomic<std::int32_t> logtype{};
  // How many closed connections the history keeps; 0: none.
  std::int32_t historysize{};
  // Packet log path; empty: none. Kept in full: a Linux path has up to
  // 4095 bytes (PATH_MAX with its terminator).
  static constexpr std::size_t kLogFileSize = 4096;
  char logfile[kLogFileSize]{};

  // mbdelete in bytes, for the packet log; not stored in the file.
  std::atomic<std::uint32_t> logSizeLimit{};

 private:
  void Load();
  void Save();
};

// The process-wide instance, defined with the other process-wide objects so
// that it is built and destroyed in their order.
extern CSettings theSettings;
