#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the capture helper reported about a running capture, as the
// session keeps it for whoever shows it (see CaptureSession::Health).
struct CaptureHealth {
  // Changes whenever anything below changes.
  std::uint64_t generation = 0;

  // The capture library's counts since the adapter opened, from the
  // helper's once-a-second report; valid once statsReports is not 0.
  std::uint64_t statsReports = 0;
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;           // by the kernel: the capture fell behind
  std::uint64_t interfaceDropped = 0;  // by the adapter or its driver

  // Replies to CaptureSession::InstallFilter since the capture started:
  // the n-th reply answers the n-th request. The last one installed the
  // filter, or failed with the library's text.
  std::uint64_t filterReplies = 0;
  bool filterInstalled = false;
  std::string filterError;

  // Reads of the adapter fail (it was removed or went down), with the
  // library's text; false again once a read succeeds.
  bool adapterFailing = false;
  std::string adapterError;

  // The capture ended without a stop: the helper ended, or what it sent
  // could not be read. The user has been told why.
  bool endedUnexpectedly = false;
  std::string endReason;
};

// Applies one report line of the running helper (not the open reply).
// False for a line it does not know, which changes nothing.
bool ApplyHelperReport(std::string_view line, CaptureHealth& health);

// The helper's reply to opening the adapter.
struct HelperOpenReply {
  enum class Kind { kNone, kOpened, kFailed };
  Kind kind = Kind::kNone;  // kNone: the line was not the reply
  bool permissionDenied = false;
  std::string text;  // the library's text for a failure
};
HelperOpenReply ParseOpenReply(std::string_view line);
