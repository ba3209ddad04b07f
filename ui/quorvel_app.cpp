#include "ui/quorvel_app.h"

#include <QFile>
#include <QIcon>
#include <QMessageBox>

#include "ui/about_dlg.h"
#include "ui/command_ids.h"
#include "ui/language.h"
#include "ui/main_frame.h"
#include "ui/product.h"
#include "ui/quorvel_view.h"

CQuorvelApp::CQuorvelApp(int& argc, char** argv, AppContext context)
    : QApplication(argc, argv), m_context(std::move(context)) {
  setApplicationName(QString::fromUtf8(product::kName));
  setApplicationVersion(QString::fromUtf8(product::kVersion));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quorvel.svg")));
  // The desktop entry this window belongs to, for the desktop's task bar.
  setDesktopFileName(QString::fromUtf8(product::kDesktopId));
  // The process ends with the main window, even while a message box is open.
  setQuitOnLastWindowClosed(false);
  InstallLanguage();
  connect(&m_termination, &TerminationSignals::terminationRequested, this, &CQuorvelApp::OnTerminationRequested);
}

CQuorvelApp::~CQuorvelApp() {
  platform::SetUserMessageSink(nullptr);
  m_frame.reset();
}

bool CQuorvelApp::InitInstance(const CommandLine& commandLine) {
  if (!OpenDocuments(commandLine.documents)) return false;
  m_frame = std::make_unique<CMainFrame>(m_context);
  auto* view = new CQuorvelView(m_context, *m_frame);
  m_frame->SetView(view, view);
  connect(m_frame.get(), &CMainFrame::appCommand, this, &CQuorvelApp::OnAppCommand);
  connect(m_frame.get(), &CMainFrame::windowClosed, this, &QCoreApplication::quit, Qt::QueuedConnection);
  platform::SetUserMessageSink(&m_messages);
  m_frame->show();
  if (!commandLine.adapter.isEmpty()) StartMonitoringOn(commandLine.adapter);
  return true;
}

// The program keeps nothing in a document, but a name that cannot be
// opened is an error the user should see rather than have ignored.
bool CQuorvelApp::OpenDocuments(const QStringList& documents) {
  for (const QString& name : documents) {
    QFile document(name);
    if (document.open(QIODevice::ReadOnly)) continue;
    QMessageBox::critical(nullptr, QString::fromUtf8(product::kName),
                          tr("无法打开文档“%1”。").arg(name));
    return false;
  }
  return true;
}

// As if the user had chosen the adapter and pressed Start once the window
// shows; a device the selector does not offer is said, and nothing starts.
void CQuorvelApp::StartMonitoringOn(const QString& device) {
  if (m_frame->SelectAdapter(device)) {
    m_frame->PostCommand(ID_CAPTURE_START);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Critical, QString::fromUtf8(product::kName),
                              tr("没有设备名为“%1”的网络适配器。").arg(device), QMessageBox::Ok, m_frame.get());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  box->open();
}

// Ends the program as a close of the main window does: the placement and
// the settings are saved, a running capture stops and its log is closed
// whole. Open dialogs end as if cancelled; a limit keeps a box that will
// not close from holding the end up.
void CQuorvelApp::OnTerminationRequested() {
  constexpr int kMostNestedDialogs = 16;
  for (int i = 0; i < kMostNestedDialogs; ++i) {
    QWidget* modal = activeModalWidget();
    if (modal == nullptr) break;
    modal->close();
  }
  if (m_frame)
    m_frame->close();
  else
    quit();
}

void CQuorvelApp::OnAppCommand(int id) {
  switch (id) {
    case ID_APP_ABOUT: {
      CAboutDlg about(m_context.openUrl, m_frame.get());
      about.exec();
      break;
    }
    default: break;
  }
}
