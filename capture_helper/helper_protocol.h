#pragma once

// What quorvel-capture and the capture session say to each other. The
// helper writes the frames to its standard output as a capture-file stream
// (global header, then records), reads commands on its standard input and
// reports on its standard error, one line each, a keyword first and any
// text last:
//
//   commands                 filter <expression>   (empty: no filter)
//                            stop                  (so does the end of input)
//   reports                  opened
//                            open-failed permission <library text>
//                            open-failed error <library text>
//                            filter-installed
//                            filter-failed <library text>
//                            stats <received> <dropped> <interface dropped>
//                            read-failed <library text>
//                            adapter-down <system text>
//                            read-resumed
//
// Every filter command gets exactly one reply, in order. Stats come once a
// second and once more when the capture ends. read-failed: reads of the
// adapter fail (it was removed, say), and go on failing until the helper
// is started again; adapter-down: the adapter was taken down, and reads
// go on by themselves once it is up. Either ends with read-resumed. A text
// never holds a control character. Lines other than these are for people
// and are ignored.
namespace helper_protocol {

inline constexpr char kHelperName[] = "quorvel-capture";

inline constexpr char kFilterCommand[] = "filter";
inline constexpr char kStopCommand[] = "stop";

inline constexpr char kOpened[] = "opened";
inline constexpr char kOpenFailed[] = "open-failed";
inline constexpr char kPermission[] = "permission";
inline constexpr char kError[] = "error";
inline constexpr char kFilterInstalled[] = "filter-installed";
inline constexpr char kFilterFailed[] = "filter-failed";
inline constexpr char kStats[] = "stats";
inline constexpr char kReadFailed[] = "read-failed";
inline constexpr char kAdapterDown[] = "adapter-down";
inline constexpr char kReadResumed[] = "read-resumed";

// The longest line either side accepts, line feed included; a longer one
// is answered as an error, never cut into two.
inline constexpr unsigned kMaxLineBytes = 65536;

// The helper's exit codes.
inline constexpr int kExitStopped = 0;
inline constexpr int kExitFailed = 1;  // the adapter could not be opened, or output failed
inline constexpr int kExitUsage = 2;

}  // namespace helper_protocol
