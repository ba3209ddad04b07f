#include "source/helper_reports.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each line in turn, with what the health shows after it. A line that is
// not a report, or a report with bad numbers, changes nothing.
TEST(HelperReportsTest, ReportsChangeTheHealthTheyName) {
  using R = HelperReport;
  const struct {
    const char* line;
    HelperReport kind;
    std::uint64_t statsReports, received, dropped, interfaceDropped, filterReplies;
    bool filterInstalled;
    const char* filterError;
    bool adapterFailing, adapterDown;
    const char* adapterError;
    std::uint64_t adapterReturns;
  } steps[] = {
      {"stats 10 2 1", R::kStats, 1, 10, 2, 1, 0, false, "", false, false, "", 0},
      {"stats 4294967295 0 0", R::kStats, 2, 4294967295u, 0, 0, 0, false, "", false, false, "", 0},
      {"stats 5 x 1", R::kUnknown, 2, 4294967295u, 0, 0, 0, false, "", false, false, "", 0},
      {"stats 5 1", R::kUnknown, 2, 4294967295u, 0, 0, 0, false, "", false, false, "", 0},
      {"stats 5 1 1 9 2", R::kUnknown, 2, 4294967295u, 0, 0, 0, false, "", false, false, "", 0},
      // The frames the helper dropped because its reader fell behind count
      // with the kernel's.
      {"stats 5 1 1 9", R::kStats, 3, 5, 10, 1, 0, false, "", false, false, "", 0},
      {"filter-failed can't parse filter expression: syntax error", R::kFilterReply, 3, 5, 10, 1, 1,
       false, "can't parse filter expression: syntax error", false, false, "", 0},
      {"filter-installed", R::kFilterReply, 3, 5, 10, 1, 2, true, "", false, false, "", 0},
      {"read-resumed", R::kReadResumed, 3, 5, 10, 1, 2, true, "", false, false, "", 0},
      {"adapter-down Network is down", R::kAdapterDown, 3, 5, 10, 1, 2, true, "", true, true,
       "Network is down", 0},
      {"read-failed The interface disappeared", R::kReadFailed, 3, 5, 10, 1, 2, true, "", true, false,
       "The interface disappeared", 0},
      {"usage: quorvel-capture ...", R::kUnknown, 3, 5, 10, 1, 2, true, "", true, false,
       "The interface disappeared", 0},
      {"read-resumed", R::kReadResumed, 3, 5, 10, 1, 2, true, "", false, false, "", 1},
      {"", R::kUnknown, 3, 5, 10, 1, 2, true, "", false, false, "", 1},
  };
  CaptureHealth health;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.line);
    const std::uint64_t generation = health.generation;
    EXPECT_EQ(ApplyHelperReport(step.line, health), step.kind);
    EXPECT_EQ(health.generation, generation + (step.kind != R::kUnknown ? 1 : 0));
    EXPECT_EQ(health.statsReports, step.statsReports);
    EXPECT_EQ(health.received, step.received);
    EXPECT_EQ(health.dropped, step.dropped);
    EXPECT_EQ(health.interfaceDropped, step.interfaceDropped);
    EXPECT_EQ(health.filterReplies, step.filterReplies);
    EXPECT_EQ(health.filterInstalled, step.filterInstalled);
    EXPECT_EQ(health.filterError, step.filterError);
    EXPECT_EQ(health.adapterFailing, step.adapterFailing);
    EXPECT_EQ(health.adapterDown, step.adapterDown);
    EXPECT_EQ(health.adapterError, step.adapterError);
    EXPECT_EQ(health.adapterReturns, step.adapterReturns);
  }
}

// A new helper counts from zero; the capture's counts go on from where the
// helpers before it left off.
TEST(HelperReportsTest, CountsGoOnOverANewHelper) {
  CaptureHealth health;
  ApplyHelperReport("stats 100 7 2", health);
  ApplyHelperReport("read-failed The interface disappeared", health);
  ApplyHelperReport("stats 120 9 2", health);
  CarryCountsOver(health);
  MarkAdapterBack(health);
  EXPECT_FALSE(health.adapterFailing);
  EXPECT_EQ(health.adapterReturns, 1u);
  EXPECT_EQ(health.received, 120u) << "nothing counted twice before the new helper reports";
  ApplyHelperReport("stats 5 1 0", health);
  EXPECT_EQ(health.received, 125u);
  EXPECT_EQ(health.AllDropped(), 12u);
  ApplyHelperReport("stats 8 3 1", health);
  EXPECT_EQ(health.received, 128u);
  EXPECT_EQ(health.dropped, 12u);
  EXPECT_EQ(health.interfaceDropped, 3u);
  EXPECT_EQ(health.statsReports, 4u);
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
