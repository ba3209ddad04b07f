#pragma once

// Reads crash report files back for the tests, checking every line against
// the report's form.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
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

// Forms of lines: "%N" stands for exactly N upper-case hexadecimal digits,
// "%s" for the rest of the line, anything else for itself.
inline constexpr char kCodeLine[] = "Exception code: %8 %s";
inline constexpr char kFaultLine[] = "Fault address:  %16 %2:%16 %s";
inline constexpr char kRipLine[] = "CS:RIP:%4:%16";
inline constexpr char kRspLine[] = "SS:RSP:%4:%16  RBP:%16";
inline constexpr char kSegmentLine[] = "FS:%4  GS:%4";
inline constexpr char kFlagsLine[] = "Flags:%16";
inline constexpr char kStackLine[] = "%16  %16  %4:%16 %s";
inline const char* const kGeneralRegisters[] = {"RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "R8",
                                                "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};
inline const std::string kSeparator(53, '=');
inline constexpr char kStackHeading[] = "Address           Frame             Logical addr          Module";

using Fields = std::vector<std::string>;

// Whether `line` has the form; `fields` gets what the placeholders stood for.
inline bool MatchForm(const std::string& line, const std::string& form, Fields& fields) {
  fields.clear();
  std::size_t at = 0;
  for (std::size_t f = 0; f < form.size(); ++f) {
    if (form[f] != '%') {
      if (at >= line.size() || line[at++] != form[f]) return false;
    } else if (form[f + 1] == 's') {
      fields.push_back(line.substr(at));
      return true;
    } else {
      std::size_t digits = 0;
      while (f + 1 < form.size() && std::isdigit(static_cast<unsigned char>(form[f + 1])))
        digits = digits * 10 + static_cast<std::size_t>(form[++f] - '0');
      const std::string field = line.substr(at, digits);
      if (field.size() != digits || field.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
      fields.push_back(field);
      at += digits;
    }
  }
  return at == line.size();
}

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

  bool Next(const std::string& form, Fields& fields) {
    if (!Take()) return false;
    if (MatchForm(m_current, form, fields)) return true;
    ADD_FAILURE() << "line " << m_next << " is \"" << m_current << "\", not of the form \"" << form << "\"";
    return false;
  }

  bool NextIs(const std::string& exactly) {
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
  Fields f;
  if (!in.NextIs("") || !in.NextIs("Registers:")) return false;
  for (const char* name : kGeneralRegisters)
    if (!in.Next(std::string(name) + ":%16", f)) return false;
  if (!in.Next(kRipLine, f)) return false;
  report.rip = Hex(f[1]);
  if (!in.Next(kRspLine, f)) return false;
  report.rbp = Hex(f[2]);
  return in.Next(kSegmentLine, f) && in.Next(kFlagsLine, f);
}

inline bool ReadStack(ReportLines& in, Report& report) {
  Fields f;
  if (!in.NextIs("") || !in.NextIs("Call stack:") || !in.NextIs(kStackHeading)) return false;
  while (!in.AtEnd() && !in.NextIsEmpty()) {
    if (!in.Next(kStackLine, f)) return false;
    report.stack.push_back({Hex(f[0]), Hex(f[1]), static_cast<unsigned>(Hex(f[2])), Hex(f[3]), f[4]});
  }
  return true;
}

inline bool ReadReport(ReportLines& in, Report& report) {
  Fields f;
  if (!in.NextIs(kSeparator) || !in.Next(kCodeLine, f)) return false;
  report.code = static_cast<std::uint32_t>(Hex(f[0]));
  report.name = f[1];
  if (!in.Next(kFaultLine, f)) return false;
  report.faultAddress = Hex(f[0]);
  report.section = static_cast<unsigned>(Hex(f[1]));
  report.offset = Hex(f[2]);
  report.module = f[3];
  return ReadRegisters(in, report) && ReadStack(in, report) && in.NextIs("");
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
