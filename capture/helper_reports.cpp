#include "capture/helper_reports.h"

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

bool ApplyStats(std::string_view counts, CaptureHealth& health) {
  std::uint64_t received = 0, dropped = 0, interfaceDropped = 0;
  if (!NextNumber(counts, received) || !NextNumber(counts, dropped) || !NextNumber(counts, interfaceDropped) ||
      !counts.empty())
    return false;
  health.received = received;
  health.dropped = dropped;
  health.interfaceDropped = interfaceDropped;
  ++health.statsReports;
  return true;
}

}  // namespace

bool ApplyHelperReport(std::string_view line, CaptureHealth& health) {
  std::string_view rest;
  const std::string_view keyword = Keyword(line, rest);
  if (keyword == hp::kStats) {
    if (!ApplyStats(rest, health)) return false;
  } else if (keyword == hp::kFilterInstalled || keyword == hp::kFilterFailed) {
    ++health.filterReplies;
    health.filterInstalled = keyword == hp::kFilterInstalled;
    health.filterError = health.filterInstalled ? std::string() : std::string(rest);
  } else if (keyword == hp::kReadFailed) {
    health.adapterFailing = true;
    health.adapterError = rest;
  } else if (keyword == hp::kReadResumed) {
    health.adapterFailing = false;
    health.adapterError.clear();
  } else {
    return false;
  }
  ++health.generation;
  return true;
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
