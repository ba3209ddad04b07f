#include "capture/helper_reports.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each line in turn, with what the health shows after it. A line that is
// not a report, or a report with bad numbers, changes nothing.
TEST(HelperReportsTest, ReportsChangeTheHealthTheyName) {
  const struct {
    const char* line;
    bool known;
    std::uint64_t statsReports, received, dropped, interfaceDropped, filterReplies;
    bool filterInstalled;
    const char* filterError;
    bool adapterFailing;
    const char* adapterError;
  } steps[] = {
      {"stats 10 2 1", true, 1, 10, 2, 1, 0, false, "", false, ""},
      {"stats 4294967295 0 0", true, 2, 4294967295u, 0, 0, 0, false, "", false, ""},
      {"stats 5 x 1", false, 2, 4294967295u, 0, 0, 0, false, "", false, ""},
      {"stats 5 1", false, 2, 4294967295u, 0, 0, 0, false, "", false, ""},
      {"stats 5 1 1 9", false, 2, 4294967295u, 0, 0, 0, false, "", false, ""},
      {"filter-failed can't parse filter expression: syntax error", true, 2, 4294967295u, 0, 0, 1, false,
       "can't parse filter expression: syntax error", false, ""},
      {"filter-installed", true, 2, 4294967295u, 0, 0, 2, true, "", false, ""},
      {"read-failed The interface disappeared", true, 2, 4294967295u, 0, 0, 2, true, "", true,
       "The interface disappeared"},
      {"usage: quorvel-capture ...", false, 2, 4294967295u, 0, 0, 2, true, "", true, "The interface disappeared"},
      {"read-resumed", true, 2, 4294967295u, 0, 0, 2, true, "", false, ""},
      {"", false, 2, 4294967295u, 0, 0, 2, true, "", false, ""},
  };
  CaptureHealth health;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.line);
    const std::uint64_t generation = health.generation;
    EXPECT_EQ(ApplyHelperReport(step.line, health), step.known);
    EXPECT_EQ(health.generation, generation + (step.known ? 1 : 0));
    EXPECT_EQ(health.statsReports, step.statsReports);
    EXPECT_EQ(health.received, step.received);
    EXPECT_EQ(health.dropped, step.dropped);
    EXPECT_EQ(health.interfaceDropped, step.interfaceDropped);
    EXPECT_EQ(health.filterReplies, step.filterReplies);
    EXPECT_EQ(health.filterInstalled, step.filterInstalled);
    EXPECT_EQ(health.filterError, step.filterError);
    EXPECT_EQ(health.adapterFailing, step.adapterFailing);
    EXPECT_EQ(health.adapterError, step.adapterError);
  }
}

TEST(HelperReportsTest, OpenReply) {
  using Kind = HelperOpenReply::Kind;
  const struct {
    const char* line;
    Kind kind;
    bool permissionDenied;
    const char* text;
  } cases[] = {
      {"opened", Kind::kOpened, false, ""},
      {"open-failed permission You don't have permission to capture on that device", Kind::kFailed, true,
       "You don't have permission to capture on that device"},
      {"open-failed error No such device exists", Kind::kFailed, false, "No such device exists"},
      {"stats 1 0 0", Kind::kNone, false, ""},
      {"openedx", Kind::kNone, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const HelperOpenReply reply = ParseOpenReply(c.line);
    EXPECT_EQ(reply.kind, c.kind);
    EXPECT_EQ(reply.permissionDenied, c.permissionDenied);
    EXPECT_EQ(reply.text, c.text);
  }
}

}  // namespace
