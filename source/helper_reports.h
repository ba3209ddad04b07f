#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The capture library's counts.
struct CaptureCounts {
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;           // by the kernel: the capture fell behind
  std::uint64_t interfaceDropped = 0;  // by the adapter or its driver
};

// What the capture helper reported about a running capture, as the
// session keeps it for whoever shows it (see CaptureSession::Health).
struct CaptureHealth {
  // Changes whenever anything below changes.
  std::uint64_t generation = 0;

  // The capture library's counts since the capture started, from the
  // helper's once-a-second report; valid once statsReports is not 0. A
  // capture whose adapter had to be opened again by a new helper counts
  // on from where the earlier helpers left off (countedBefore).
  std::uint64_t statsReports = 0;
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;           // by the kernel or the helper: the capture fell behind
  std::uint64_t interfaceDropped = 0;  // by the adapter or its driver
  CaptureCounts countedBefore;         // by the earlier helpers of this capture

  // Every packet lost before it was captured, whoever lost it.
  std::uint64_t AllDropped() const { return dropped + interfaceDropped; }

  // Replies to CaptureSession::InstallFilter since the capture started:
  // once it reaches a request's number, that request was answered. The
  // last reply installed the filter, or failed with the library's text.
  std::uint64_t filterReplies = 0;
  bool filterInstalled = false;
  std::string filterError;

  // Reads of the adapter fail (it was removed), or it was taken down, with
  // the library's (or the system's) text; false again once frames can be
  // read from it. adapterReturns counts the times it came back.
  bool adapterFailing = false;
  bool adapterDown = false;  // failing, but it comes back by itself
  std::string adapterError;
  std::uint64_t adapterReturns = 0;

  // The capture ended without a stop: the helper ended, or what it sent
  // could not be read. The user has been told why.
  bool endedUnexpectedly = false;
  std::string endReason;
};

// The kinds of report a running helper sends.
enum class HelperReport { kUnknown, kStats, kFilterReply, kReadFailed, kAdapterDown, kReadResumed };

// Applies one report line of the running helper (not the open reply) and
// says what it was. A line it does not know (kUnknown) changes nothing. A
// filter reply counts one more reply.
HelperReport ApplyHelperReport(std::string_view line, CaptureHealth& health);

// A new helper takes over a capture: the counts so far are kept, and its
// own, which start from zero, are added to them.
void CarryCountsOver(CaptureHealth& health);

// The adapter can be read again.
void MarkAdapterBack(CaptureHealth& health);

// The helper's reply to opening the adapter.
struct HelperOpenReply {
  enum class Kind { kNone, kOpened, kFailed };
  Kind kind = Kind::kNone;  // kNone: the line was not the reply
  bool permissionDenied = false;
  std::string text;  // the library's text for a failure
};
HelperOpenReply ParseOpenReply(std::string_view line);
