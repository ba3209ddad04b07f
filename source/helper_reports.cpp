#include "source/helper_reports.h"

#include <charconv>

#include "capture_helper/helper_protocol.h"

namespace {

namespace hp = helper_protocol;

// Splits "keyword rest" at the first space.
std::string_view Keyword(std::string_view line, std::string_view& rest) {
  const std::size_t space = line.find(' ');
  rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  return line.substr(0, space);
}

bool NextNumber(std::string_view& text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || next == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(next - text.data()));
  if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return true;
}

// The fourth count, the frames the helper dropped because its reader fell
// behind, is the kernel's kind of loss; helpers before it sent three.
bool ApplyStats(std::string_view counts, CaptureHealth& health) {
  std::uint64_t received = 0, dropped = 0, interfaceDropped = 0, outputDropped = 0;
  if (!NextNumber(counts, received) || !NextNumber(counts, dropped) || !NextNumber(counts, interfaceDropped) ||
      (!counts.empty() && !NextNumber(counts, outputDropped)) || !counts.empty())
    return false;
  const CaptureCounts& before = health.countedBefore;
  health.received = before.received + received;
  health.dropped = before.dropped + dropped + outputDropped;
  health.interfaceDropped = before.interfaceDropped + interfaceDropped;
  ++health.statsReports;
  return true;
}

void MarkFailing(CaptureHealth& health, std::string_view text, bool down) {
  health.adapterFailing = true;
  health.adapterDown = down;
  health.adapterError = text;
}

void AdapterBack(CaptureHealth& health) {
  if (health.adapterFailing) ++health.adapterReturns;
  health.adapterFailing = false;
  health.adapterDown = false;
  health.adapterError.clear();
}

HelperReport Apply(std::string_view line, CaptureHealth& health) {
  std::string_view rest;
  const std::string_view keyword = Keyword(line, rest);
  if (keyword == hp::kStats) return ApplyStats(rest, health) ? HelperReport::kStats : HelperReport::kUnknown;
  if (keyword == hp::kFilterInstalled || keyword == hp::kFilterFailed) {
    ++health.filterReplies;
    health.filterInstalled = keyword == hp::kFilterInstalled;
    health.filterError = health.filterInstalled ? std::string() : std::string(rest);
    return HelperReport::kFilterReply;
  }
  if (keyword == hp::kReadFailed) {
    MarkFailing(health, rest, false);
    return HelperReport::kReadFailed;
  }
  if (keyword == hp::kAdapterDown) {
    MarkFailing(health, rest, true);
    return HelperReport::kAdapterDown;
  }
  if (keyword == hp::kReadResumed) {
    AdapterBack(health);
    return HelperReport::kReadResumed;
  }
  return HelperReport::kUnknown;
}

}  // namespace

HelperReport ApplyHelperReport(std::string_view line, CaptureHealth& health) {
  const HelperReport report = Apply(line, health);
  if (report != HelperReport::kUnknown) ++health.generation;
  return report;
}

void CarryCountsOver(CaptureHealth& health) {
  health.countedBefore = {health.received, health.dropped, health.interfaceDropped};
}

void MarkAdapterBack(CaptureHealth& health) {
  AdapterBack(health);
  ++health.generation;
}

HelperOpenReply ParseOpenReply(std::string_view line) {
  HelperOpenReply reply;
  std::string_view rest;
  const std::string_view keyword = Keyword(line, rest);
  if (keyword == hp::kOpened) {
    reply.kind = HelperOpenReply::Kind::kOpened;
  } else if (keyword == hp::kOpenFailed) {
    reply.kind = HelperOpenReply::Kind::kFailed;
    std::string_view text;
    reply.permissionDenied = Keyword(rest, text) == hp::kPermission;
    reply.text = text;
  }
  return reply;
}
