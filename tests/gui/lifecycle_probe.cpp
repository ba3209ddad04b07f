// The program as it really starts and ends, process-wide objects included,
// with two adapters of its own and one thing to do once the window shows,
// named by QUORVEL_PROBE_ACTION:
//   close  select the second adapter, place the window at 40,50 640x400,
//          then send the close request;
//   exit   the same, then Exit instead of the close request;
//   wait   print "ready" and wait to be killed;
//   wait in dialog  the same while the settings dialog is open;
//   answer print the text of the message box that start-up shows (for a
//          document that cannot be opened) and close it;
//   dialogs run the About and the settings command, print for each dialog
//          that opens its class, whether it is a child of the window and
//          whether it shows the application's icon, close it, then send
//          the close request.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>

#include "ui/command_ids.h"
#include "ui/command_line.h"
#include "ui/main_frame.h"
#include "ui/process_objects.h"
#include "ui/quorvel_app.h"

void ReportAndClose(const QWidget& frame) {
  auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (dialog == nullptr) return;
  const QImage shown = dialog->windowIcon().pixmap(32).toImage();
  const QImage own = QIcon(QStringLiteral(":/icons/quorvel.svg")).pixmap(32).toImage();
  std::printf("%s child=%d icon=%d\n", dialog->metaObject()->className(), dialog->parentWidget() == &frame,
              !shown.isNull() && shown == own);
  std::fflush(stdout);
  dialog->reject();
}

int main(int argc, char* argv[]) {
  CommandLine commandLine;
  if (const std::optional<int> exitCode = ParseCommandLine(argc, argv, commandLine)) return *exitCode;
  AppContext context = ProcessContext();
  context.findAdapters = [] {
    return std::vector<AdapterItem>{{"10.0.0.1 - first", "probe-a"}, {"10.0.0.2 - second", "probe-b"}};
  };
  context.openDocument = [](const std::string&) {};
  CQuorvelApp app(argc, argv, context);
  const QByteArray action = qgetenv("QUORVEL_PROBE_ACTION");
  if (action == "answer") {
    QTimer::singleShot(100, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        std::puts(box->text().toUtf8().constData());
        std::fflush(stdout);
        box->accept();
      }
    });
  }
  if (!app.InitInstance(commandLine)) return 1;

  CMainFrame& frame = *app.MainFrame();
  QTimer::singleShot(0, &frame, [&frame, action] {
    if (action == "dialogs") {
      for (const int command : {ID_APP_ABOUT, ID_SETTINGS}) {
        QTimer::singleShot(100, [&frame] { ReportAndClose(frame); });
        frame.ExecuteCommand(command);
      }
      frame.close();
      return;
    }
    if (action == "wait" || action == "wait in dialog") {
      QTimer::singleShot(0, [] {
        std::puts("ready");
        std::fflush(stdout);
      });
      if (action == "wait in dialog") frame.ExecuteCommand(ID_SETTINGS);
      return;
    }
    frame.AdapterSelector()->setCurrentIndex(1);
    frame.setGeometry(40, 50, 640, 400);
    if (action == "exit")
      frame.PostCommand(ID_QUIT);
    else
      frame.close();
  });
  return app.exec();
}
