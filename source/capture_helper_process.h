#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One run of quorvel-capture, our own child: started without a shell,
// with an empty environment, in a process group of its own (so that a
// terminal's Ctrl+C reaches only the program that started it), with three
// channels: its input for commands (a socket), its output for the frames
// and its standard error for reports (pipes); and when asked a fourth, its
// descriptor 3 for the socket events (a pipe). Our ends are non-blocking
// and close-on-exec. A frame ring the caller made goes to its descriptor 4.
//
// A process inherits the network namespace of the thread that starts it:
// the helper opens the adapter of the caller's namespace.
class CaptureHelperProcess {
 public:
  CaptureHelperProcess() = default;
  ~CaptureHelperProcess();
  CaptureHelperProcess(const CaptureHelperProcess&) = delete;
  CaptureHelperProcess& operator=(const CaptureHelperProcess&) = delete;

  // Starts `path` with `arguments` (after the program's name), and
  // `ringFd` (stays the caller's) as its descriptor 4 when it is one. 0
  // when it runs; otherwise the error number of the failed start (ENOENT
  // when the helper is missing, EACCES when the user may not run it).
  int Start(const std::string& path, const std::vector<std::string>& arguments, bool socketEvents = false,
            int ringFd = -1);

  bool Started() const { return m_pid > 0; }
  pid_t ProcessId() const { return m_pid; }
  int FrameFd() const { return m_frameFd; }
  int ReportFd() const { return m_reportFd; }
  // Our end of the socket events' channel, the caller's from now on; -1
  // when there is none (or it was taken).
  int TakeSocketEventsFd();

  // Writes one whole command line, waiting a short while at most when the
  // pipe is full. False when it could not be written whole; after that the
  // command channel is closed, since the helper may hold half a line.
  bool Send(std::string_view line);

  // Closes the command channel: the end of its input is the helper's stop.
  void CloseInput();
  // Stops the helper and gives it `graceMs` to end, passing what it still
  // reports (its last counts) to `onReports` and throwing away the frames
  // it still sends, so that it never waits to write them; then ends it if
  // need be, and reaps it.
  void Finish(int graceMs, const std::function<void(const char*, std::size_t)>& onReports);
  // Closes every pipe (the end of its input is a stop), gives the helper
  // `graceMs` to end, then ends it, and reaps it.
  void End(int graceMs);
  // Ends the helper at once and reaps it, but leaves our ends of its pipes
  // open and forgets them: a thread that may still read them finds their
  // end rather than another file's descriptor.
  void Abandon();

 private:
  // Waits up to `graceMs` for the helper to end, then ends it; reaps it.
  void Reap(int graceMs);

  pid_t m_pid = -1;
  int m_commandFd = -1;
  int m_frameFd = -1;
  int m_reportFd = -1;
  int m_socketEventsFd = -1;
};
