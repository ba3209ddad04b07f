// A "platform plugin" that the installation tests put in front of the
// offscreen platform (QT_QPA_PLATFORM=quorvelreport;offscreen, with
// QT_QPA_PLATFORM_PLUGIN_PATH at its folder). It offers no platform, so the
// toolkit goes on with offscreen. Once the program's event loop runs it
// waits until the main window's title or a message box shows the text that
// QUORVEL_REPORT_AWAIT names (not at all when that is unset; at most 20 s),
// writes the title and the text of every message box to the file
// QUORVEL_REPORT_FILE names, and closes the windows as a user would, so
// that the program ends normally.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <QtPlugin>

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kPatienceMs = 20000;

QMainWindow* MainWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<QMainWindow*>(widget)) return window;
  return nullptr;
}

QStringList MessageTexts() {
  QStringList texts;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) texts << box->text();
  return texts;
}

bool Shows(const QString& text) {
  if (text.isEmpty()) return true;
  const QMainWindow* window = MainWindow();
  if (window != nullptr && window->windowTitle().contains(text)) return true;
  return MessageTexts().join(QLatin1Char('\n')).contains(text);
}

void ReportAndClose() {
  QFile report(qEnvironmentVariable("QUORVEL_REPORT_FILE"));
  if (report.open(QIODevice::WriteOnly)) {
    const QMainWindow* window = MainWindow();
    QString text = QStringLiteral("title: ") + (window != nullptr ? window->windowTitle() : QString()) + '\n';
    for (const QString& message : MessageTexts()) text += QStringLiteral("message: ") + message + '\n';
    report.write(text.toUtf8());
  }
  QApplication::closeAllWindows();
}

void Watch() {
  auto* timer = new QTimer(qApp);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, clock] {
    if (!Shows(qEnvironmentVariable("QUORVEL_REPORT_AWAIT")) && clock->elapsed() < kPatienceMs) return;
    timer->stop();
    delete clock;
    ReportAndClose();
  });
  timer->start(kPollMs);
}

}  // namespace

class WindowReportPlugin : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE "window_report_plugin.json")

 public:
  WindowReportPlugin() {
    // The application object is being made; its event loop runs later.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &Watch, Qt::QueuedConnection);
  }
};

#include "window_report_plugin.moc"
