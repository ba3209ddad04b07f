#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// Whether the window toolkit is told where to show windows: a desktop's
// display (DISPLAY, WAYLAND_DISPLAY, the toolkit's -display option), or a
// platform named by QT_QPA_PLATFORM or the -platform option (offscreen, ...).
bool HasDisplay(int argc, char* argv[]);

// What the window says, in the loaded language, when it cannot open a
// display; `display` names the one it tried, empty when none is set.
QString NoDisplayMessage(const QString& display);

// The message, for the display this process's environment names, on
// standard error.
void PrintNoDisplayMessage();

// While one lives, the toolkit's failure to open the display it was given
// (it reports that as a fatal error, which would end the process through
// the crash handler) runs `onFailure` instead and ends the process with
// exit code 1. Other messages pass on as before.
class DisplayFailureGuard {
 public:
  explicit DisplayFailureGuard(std::function<void()> onFailure);
  ~DisplayFailureGuard();
  DisplayFailureGuard(const DisplayFailureGuard&) = delete;
  DisplayFailureGuard& operator=(const DisplayFailureGuard&) = delete;

 private:
  QtMessageHandler m_previous;
};
