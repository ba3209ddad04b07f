#pragma once

// Reads crash report files back for the tests, checking every line against
// the report's form.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace crash_test {

struct StackLine {
  std::uint64_t address = 0;
  std::uint64_t frame = 0;
  unsigned section = 0;
  std::uint64_t offset = 0;
  std::string module;
};

struct Report {
  std::uint32_t code = 0;
  std::string name;
  std::uint64_t faultAddress = 0;
  unsigned section = 0;
  std::uint64_t offset = 0;
  std::string module;
  std::uint64_t rip = 0;
  std::uint64_t rbp = 0;
  std::vector<StackLine> stack;
};

#define HEX16 "([0-9A-F]{16})"
inline const std::regex kCodeLine("Exception code: ([0-9A-F]{8}) (.*)");
inline const std::regex kFaultLine("Fault address:  " HEX16 " ([0-9A-F]{2}):" HEX16 " (.*)");
inline const std::regex kRipLine("CS:RIP:[0-9A-F]{4}:" HEX16);
inline const std::regex kRspLine("SS:RSP:[0-9A-F]{4}:[0-9A-F]{16}  RBP:" HEX16);
inline const std::regex kSegmentLine("FS:[0-9A-F]{4}  GS:[0-9A-F]{4}");
inline const std::regex kFlagsLine("Flags:[0-9A-F]{16}");
inline const std::regex kStackLine(HEX16 "  " HEX16 "  ([0-9A-F]{4}):" HEX16 " (.*)");
#undef HEX16
inline const char* const kGeneralRegisters[] = {"RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "R8",
                                         "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};
inline const std::string kSeparator(53, '=');
inline constexpr char kStackHeading[] = "Address           Frame             Logical addr          Module";

inline std::uint64_t Hex(const std::string& text) { return std::stoull(text, nullptr, 16); }

// The lines of a report file, checked one by one against their form.
class ReportLines {
 public:
  explicit ReportLines(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "the last line has no line feed";
        break;
      }
      m_lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  bool AtEnd() const { return m_next == m_lines.size(); }
  bool NextIsEmpty() const { return !AtEnd() && m_lines[m_next].empty(); }

  bool Next(const std::regex& form, std::smatch& match) {
    if (!Take()) return false;
    if (std::regex_match(m_current, match, form)) return true;
    ADD_FAILURE() << "line " << m_next << " out of form: \"" << m_current << "\"";
    return false;
  }

  bool Next(const std::string& exactly) {
    if (!Take()) return false;
    if (m_current == exactly) return true;
    ADD_FAILURE() << "line " << m_next << " is \"" << m_current << "\", not \"" << exactly << "\"";
    return false;
  }

 private:
  bool Take() {
    if (AtEnd()) {
      ADD_FAILURE() << "the report ends early";
      return false;
    }
    m_current = m_lines[m_next++];
    return true;
  }

  std::vector<std::string> m_lines;
  std::size_t m_next = 0;
  std::string m_current;
};

inline bool ReadRegisters(ReportLines& in, Report& report) {
  std::smatch m;
  if (!in.Next("") || !in.Next("Registers:")) return false;
  for (const char* name : kGeneralRegisters)
    if (!in.Next(std::regex(std::string(name) + ":[0-9A-F]{16}"), m)) return false;
  if (!in.Next(kRipLine, m)) return false;
  report.rip = Hex(m[1]);
  if (!in.Next(kRspLine, m)) return false;
  report.rbp = Hex(m[1]);
  return in.Next(kSegmentLine, m) && in.Next(kFlagsLine, m);
}

inline bool ReadStack(ReportLines& in, Report& report) {
  std::smatch m;
  if (!in.Next("") || !in.Next("Call stack:") || !in.Next(kStackHeading)) return false;
  while (!in.AtEnd() && !in.NextIsEmpty()) {
    if (!in.Next(kStackLine, m)) return false;
    report.stack.push_back({Hex(m[1]), Hex(m[2]), static_cast<unsigned>(Hex(m[3])), Hex(m[4]), m[5]});
  }
  return true;
}

inline bool ReadReport(ReportLines& in, Report& report) {
  std::smatch m;
  if (!in.Next(kSeparator) || !in.Next(kCodeLine, m)) return false;
  report.code = static_cast<std::uint32_t>(Hex(m[1]));
  report.name = m[2];
  if (!in.Next(kFaultLine, m)) return false;
  report.faultAddress = Hex(m[1]);
  report.section = static_cast<unsigned>(Hex(m[2]));
  report.offset = Hex(m[3]);
  report.module = m[4];
  return ReadRegisters(in, report) && ReadStack(in, report) && in.Next("");
}

// Every report of a report file, each checked for its form.
inline std::vector<Report> ReadReports(const std::string& text) {
  EXPECT_EQ(text.find('\r'), std::string::npos) << "line feeds only";
  ReportLines in(text);
  std::vector<Report> reports;
  while (!in.AtEnd()) {
    Report report;
    if (!ReadReport(in, report)) break;
    reports.push_back(report);
  }
  return reports;
}

}  // namespace crash_test
