#include "export/export_format.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/wall_clock.h"
#include "support/address_text.h"
#include "support/program_run.h"
#include "support/test_folder.h"

namespace {

// Each row of a file as Python's own readers read it, as a JSON array of
// its values: CSV's are all texts, JSON's keep their types.
constexpr char kReadBack[] = R"(
import csv, json, sys
kind, path = sys.argv[1], sys.argv[2]
with open(path, newline='', encoding='utf-8') as f:
    rows = list(csv.DictReader(f)) if kind == 'csv' else [json.loads(line) for line in f]
for row in rows:
    print(json.dumps(list(row.values())))
)";

std::vector<std::string> ReadBack(const TestFolder& folder, const char* kind, const std::string& text) {
  const auto script = folder.Path() / "read_back.py";
  const auto file = folder.Path() / (std::string("connections.") + kind);
  std::ofstream(script) << kReadBack;
  std::ofstream(file, std::ios::binary) << text;
  const ProgramRun run = RunProgram("/usr/bin/python3", {script.string(), kind, file.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(run.out.substr(start, end - start));
  return lines;
}

ConnectionRecord Record(const char* source, const char* destination, std::uint16_t sport, std::uint16_t dport) {
  ConnectionRecord record;
  record.endpoints.source = ParseAddress(source);
  record.endpoints.destination = ParseAddress(destination);
  record.endpoints.sourcePort = htons(sport);
  record.endpoints.destinationPort = htons(dport);
  record.endpoints.protocol = 6;
  return record;
}

class ExportFormatTest : public ::testing::Test {
 protected:
  // Times read the same wherever the test runs.
  ExportFormatTest() { setenv("TZ", "UTC", 1); tzset(); }
  ~ExportFormatTest() override { unsetenv("TZ"); tzset(); }

  // A program of another family, a name with every character CSV quotes
  // and bytes that are no UTF-8, a user alone, and nothing known.
  std::vector<ConnectionRecord> Records() {
    ConnectionRecord v4 = Record("10.0.0.1", "10.0.0.2", 40000, 443);
    v4.bytes = 18446744073709551615u;
    v4.packets = 3;
    v4.firstSeenMs = 1796981405123;  // 2026-12-11T09:30:05.123Z
    v4.lastSeenMs = 1796981406623;
    v4.owner.pid = 4242;
    CopyOwnerName(v4.owner.program, "a,\"b\"\nc\xff");
    v4.owner.uidKnown = true;
    CopyOwnerName(v4.owner.user, "alice");
    v4.reason = CloseReason::kIdle;
    ConnectionRecord v6 = Record("2001:db8::1", "fe80::2", 53, 5353);
    v6.endpoints.protocol = 17;
    v6.firstSeenMs = v6.lastSeenMs = 1796981405000;
    v6.owner.uidKnown = true;
    CopyOwnerName(v6.owner.user, "1001");
    v6.reason = CloseReason::kEnd;
    ConnectionRecord unknown = Record("192.168.1.1", "192.168.1.2", 0, 0);
    return {v4, v6, unknown};
  }

  std::string Write(ExportFormat format, ExportColumns columns) {
    std::string text = ExportHeader(format, columns);
    for (const ConnectionRecord& record : Records()) AppendExportLine(text, format, columns, record);
    return text;
  }

  TestFolder m_folder;
};

TEST_F(ExportFormatTest, CsvAndJsonLinesReadBackAsTheRecordsWere) {
  const ExportColumns all{true, true};
  EXPECT_EQ(ReadBack(m_folder, "csv", Write(ExportFormat::kCsv, all)),
            (std::vector<std::string>{
                R"(["10.0.0.1", "40000", "10.0.0.2", "443", "6", "18446744073709551615", "3", )"
                R"("2026-12-11T09:30:05.123+00:00", "2026-12-11T09:30:06.623+00:00", "1.500", "4242", )"
                R"("a,\"b\"\nc\ufffd", "alice", "idle"])",
                R"(["2001:db8::1", "53", "fe80::2", "5353", "17", "0", "0", "2026-12-11T09:30:05.000+00:00", )"
                R"("2026-12-11T09:30:05.000+00:00", "0.000", "", "", "1001", "end"])",
                R"(["192.168.1.1", "0", "192.168.1.2", "0", "6", "0", "0", "1970-01-01T00:00:00.000+00:00", )"
                R"("1970-01-01T00:00:00.000+00:00", "0.000", "", "", "", ""])",
            }));
  EXPECT_EQ(ReadBack(m_folder, "jsonl", Write(ExportFormat::kJsonLines, all)),
            (std::vector<std::string>{
                R"(["10.0.0.1", 40000, "10.0.0.2", 443, 6, 18446744073709551615, 3, )"
                R"("2026-12-11T09:30:05.123+00:00", "2026-12-11T09:30:06.623+00:00", 1.5, 4242, )"
                R"("a,\"b\"\nc\ufffd", "alice", "idle"])",
                R"(["2001:db8::1", 53, "fe80::2", 5353, 17, 0, 0, "2026-12-11T09:30:05.000+00:00", )"
                R"("2026-12-11T09:30:05.000+00:00", 0.0, null, null, "1001", "end"])",
                R"(["192.168.1.1", 0, "192.168.1.2", 0, 6, 0, 0, "1970-01-01T00:00:00.000+00:00", )"
                R"("1970-01-01T00:00:00.000+00:00", 0.0, null, null, null, null])",
            }));
}

TEST_F(ExportFormatTest, OptionalColumnsAndFormatNames) {
  EXPECT_EQ(ExportHeader(ExportFormat::kCsv, {}),
            "src,sport,dst,dport,proto,bytes,packets,first_seen,last_seen,duration\n");
  EXPECT_EQ(ExportHeader(ExportFormat::kCsv, {true, false}),
            "src,sport,dst,dport,proto,bytes,packets,first_seen,last_seen,duration,pid,process,user\n");
  EXPECT_EQ(ExportHeader(ExportFormat::kJsonLines, {true, true}), "");
  std::string line;
  AppendExportLine(line, ExportFormat::kCsv, {}, Records()[2]);
  EXPECT_EQ(line, "192.168.1.1,0,192.168.1.2,0,6,0,0,1970-01-01T00:00:00.000+00:00,1970-01-01T00:00:00.000+00:00,0.000\n");
  EXPECT_EQ(ExportFormatNamed("csv"), ExportFormat::kCsv);
  EXPECT_EQ(ExportFormatNamed("jsonl"), ExportFormat::kJsonLines);
  EXPECT_EQ(ExportFormatNamed("json"), std::nullopt);
}

TEST(WallClockTest, Iso8601TimesCarryTheirOffset) {
  setenv("TZ", "Asia/Kolkata", 1);  // +05:30, no summer time
  tzset();
  EXPECT_EQ(platform::Iso8601Time(1796981405123), "2026-12-11T15:00:05.123+05:30");
  EXPECT_EQ(platform::Iso8601Time(-1), "1970-01-01T05:29:59.999+05:30");
  setenv("TZ", "America/St_Johns", 1);  // -03:30 in December
  tzset();
  EXPECT_EQ(platform::Iso8601Time(1796981405123), "2026-12-11T06:00:05.123-03:30");
  unsetenv("TZ");
  tzset();
}

}  // namespace
