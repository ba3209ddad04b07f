#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, a service manager,
// Ctrl+C in a terminal) ask the program to end as a close of its main
// window does, rather than killing it with its settings unsaved and its
// packet log torn. The handler only writes the signal's number into a
// pipe; the notifier reads it on the thread that built this object, which
// then announces the request once. The fault signals belong to the crash
// handler and are not touched.
//
// One at a time per process; the previous handlers return when it ends.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

  // False when the pipe could not be made: the signals then keep their
  // previous handlers.
  bool Installed() const { return m_notifier != nullptr; }

 signals:
  void terminationRequested(int signal);

 private:
  void OnReadable();

  int m_readEnd = -1;
  QSocketNotifier* m_notifier = nullptr;
  bool m_requested = false;
};
