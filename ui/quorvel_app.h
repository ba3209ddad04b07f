#pragma once

#include <QApplication>
#include <memory>

#include "ui/app_context.h"
#include "ui/command_line.h"
#include "ui/message_box_sink.h"
#include "ui/termination_signals.h"

class CMainFrame;

// The application: brings up the main window with its view and carries out
// the application's own commands. The main window lives until the
// application object ends; the process-wide objects outlive both.
class CQuorvelApp : public QApplication {
  Q_OBJECT

 public:
  CQuorvelApp(int& argc, char** argv, AppContext context);
  ~CQuorvelApp() override;

  // Builds and shows the main window, and starts monitoring when the
  // command line names an adapter. False when the process should end
  // before the event loop (the command line named a document that cannot
  // be opened; the user has been told).
  bool InitInstance(const CommandLine& commandLine = {});

  CMainFrame* MainFrame() const { return m_frame.get(); }

 private:
  bool OpenDocuments(const QStringList& documents);
  void StartMonitoringOn(const QString& device);
  void OnAppCommand(int id);
  void OnTerminationRequested();

  AppContext m_context;
  CMessageBoxSink m_messages;
  TerminationSignals m_termination;
  std::unique_ptr<CMainFrame> m_frame;
};
