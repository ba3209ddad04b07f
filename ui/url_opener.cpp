#include "ui/url_opener.h"

#include <QDesktopServices>
#include <QProcess>

#include "platform/default_browser.h"

UrlOpeners UrlOpeners::System() {
  return {
      [](const QUrl& url) { return QDesktopServices::openUrl(url); },
      [] { return platform::DefaultBrowserExec(platform::XdgFoldersFromEnvironment()); },
      [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
      },
  };
}

// The address is one argument of its own, whatever it holds: it is never
// split or quoted along with the command line.
bool GotoURL(const QString& url, const UrlOpeners& openers) {
  if (openers.desktop(QUrl(url))) return true;
  const std::string exec = openers.browserExec();
  if (exec.empty()) return false;
  QStringList command;
  for (const std::string& word : platform::SplitCommandLine(platform::CutAtFieldCode(exec)))
    command.append(QString::fromStdString(word));
  if (command.isEmpty() || command.front().isEmpty()) return false;
  const QString program = command.takeFirst();
  command.append(url);
  return openers.start(program, command);
}
