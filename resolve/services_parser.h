#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

// Service names for ports, read once from the "services" file beside the
// executable (not the operating system's own file). Lines look like
// "name port/protocol [aliases] [# comment]" with fields separated by
// spaces only; protocols are tcp, udp and icmp, in any case.
//
// The table is filled while the process has a single thread and is
// read-only afterwards, so lookups need no lock; only the switch changes
// later (written by the UI thread, read by the capture thread).
class CServicesParser {
 public:
  // The file beside the running executable, loaded at once.
  CServicesParser();
  // Any file, loaded at once; a missing file leaves the table empty.
  explicit CServicesParser(std::string path);
  virtual ~CServicesParser() = default;

  CServicesParser(const CServicesParser&) = delete;
  CServicesParser& operator=(const CServicesParser&) = delete;

  // Empties the table, switches lookups off and reads the file again.
  // 1 when the file was read, 0 when it could not be opened.
  int Load();

  // Adds the entry that one line describes, if it describes one. A later
  // line for the same port and protocol replaces the earlier one.
  void ParseLine(const char* line);

  // 0 switches lookups off, anything else on. Returns the previous value.
  std::int32_t SetResolve(std::int32_t value);

  // The service name of `port` (host byte order) over IP protocol
  // `protocol`, or null when switched off or unknown. The text stays valid
  // until the table is destroyed.
  const char* Lookup(std::uint16_t port, std::uint8_t protocol) const;

 private:
  void Add(std::uint16_t port, std::uint8_t protocol, std::string name);

  std::string m_path;
  std::atomic<std::int32_t> m_resolve{0};
  // Names live in a deque so the pointers handed out never move, even when
  // a later line replaces the index entry.
  std::deque<std::string> m_names;
  std::unordered_map<std::uint32_t, const char*> m_index;
};
