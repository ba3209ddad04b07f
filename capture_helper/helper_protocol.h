#pragma once

// What quorvel-capture and the capture session say to each other. The
// helper writes the frames to its standard output as a capture-file stream
// (global header, then records), or with --ring into the session's shared
// ring (capture_helper/frame_ring_layout.h), its output then the ring's
// doorbell; it reads commands on its standard input and reports on its
// standard error, one line each, a keyword first and any text last:
//
//   commands                 filter <expression>   (empty: no filter)
//                            stop                  (so do the end of input,
//                                                   SIGINT, SIGTERM, SIGHUP)
//   reports                  opened
//                            open-failed permission <library text>
//                            open-failed error <library text>
//                            filter-installed
//                            filter-failed <library text>
//                            stats <received> <dropped> <interface dropped>
//                                  <output dropped>
//                            read-failed <library text>
//                            adapter-down <system text>
//                            read-resumed
//
// Every filter command gets exactly one reply, in order. A filter is
// compiled apart from the capture, which goes on with the filter before
// it meanwhile; one that takes longer than the filter time-out (host names
// are looked up while it compiles) is refused, and so is one that a later
// command superseded before its compile began, or that a stop overtook.
// A filter sent before the open is reported (with the start) is in force
// from the first frame, unless it takes more than a second to compile; its
// reply follows the open's.
//
// Stats come once a second and once more when the capture ends: the
// library's counts of the frames received and of those the kernel and the
// adapter dropped, then the frames the helper dropped itself because its
// output did not take them in time. Nothing waits for the reader of the
// output: what it does not take is kept in a bounded buffer, and a frame
// that finds it full is dropped. At a stop the frames the kernel had taken
// from the adapter by then are read too, and the reader gets a second to
// take what is left. read-failed: reads of the adapter fail (it was
// removed, say), and go on failing until the helper is started again;
// adapter-down: the adapter was taken down, and reads go on by themselves
// once it is up. Either ends with read-resumed. A text never holds a
// control character. Lines other than these are for people and are
// ignored (such as socket-events-failed <text>, when the socket programs
// that --socket-events asks for could not be attached).
//
// With --socket-events the helper also writes the records of its socket
// programs (capture_helper/socket_event.h) to descriptor 3, the first one
// saying that they are attached; it closes the descriptor at once when
// they could not be.
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
// The adapter could not be opened, or the reader of the output went away
// (after the last stats).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace helper_protocol
