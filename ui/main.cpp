#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/capture_capabilities.h"
#include "platform/crash_handler.h"
#include "ui/command_line.h"
#include "ui/crash_message.h"
#include "ui/display_check.h"
#include "ui/language.h"
#include "ui/process_objects.h"
#include "ui/quorvel_app.h"

int main(int argc, char* argv[]) {
  // The window loads code it does not control (the toolkit's plugins) and
  // captures through quorvel-capture: it keeps no capability at all, even
  // one an old setcap left on its file. Before the toolkit starts threads.
  if (!platform::DropAllCapabilities()) {
    std::fputs("quorvel: cannot give up the capabilities granted to this program; remove them with "
               "sudo setcap -r on it\n",
               stderr);
    return 1;
  }
  // Every text from here on is in the user's language, the crash message
  // and the command line's help included.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const Language language = ProcessLanguage(arguments);
  LoadLanguage(language);
  // A crash is told by a new run of this program, which learns the
  // language from here rather than from a command line it does not get.
  setenv("QUORVEL_LANG", language == Language::kEnglish ? "en" : "zh", 1);
  ShowCrashMessageIfAsked(argc, argv);
  CommandLine commandLine;
  // Help, version or a mistake: nothing of the program has run, and the
  // settings read at start are not written back.
  if (const std::optional<int> exitCode = ParseCommandLine(argc, argv, commandLine)) std::_Exit(*exitCode);
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kMain);
  // Without a display (over ssh, in a service) the window cannot show: the
  // user is told so and pointed to the way of monitoring without one. That
  // is no crash, and the settings stay as they were.
  if (!HasDisplay(argc, argv)) {
    PrintNoDisplayMessage();
    std::_Exit(1);
  }
  std::optional<DisplayFailureGuard> displayGuard(std::in_place, PrintNoDisplayMessage);
  CQuorvelApp app(argc, argv, ProcessContext());
  displayGuard.reset();
  if (!app.InitInstance(commandLine)) return 1;
  return app.exec();
}
