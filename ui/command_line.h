#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks of the window.
struct CommandLine {
  QString adapter;        // --adapter: the device to select and start monitoring on at once
  QStringList documents;  // the other arguments: documents, checked at start-up
};

// Reads the program's own options before the window toolkit starts, so
// that --help and --version work without a display. The toolkit's own
// options (-platform, -style, ...) are accepted and left to it. Returns
// the exit code when the process should end at once: 0 after --help or
// --version (printed on standard output), 2 after a usage error (printed
// with the usage on standard error); nullopt when the window should start.
std::optional<int> ParseCommandLine(int argc, char* argv[], CommandLine& commandLine);
