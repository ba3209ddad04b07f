#include "ui/quorvel_app.h"

#include <QFile>
#include <QIcon>
#include <QMessageBox>

#include "ui/about_dlg.h"
#include "ui/command_ids.h"
#include "ui/main_frame.h"
#include "ui/product.h"
#include "ui/quorvel_view.h"

CQuorvelApp::CQuorvelApp(int& argc, char** argv, AppContext context)
    : QApplication(argc, argv), m_context(std::move(context)) {
  setApplicationName(QString::fromUtf8(product::kName));
  setApplicationVersion(QString::fromUtf8(product::kVersion));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quorvel.svg")));
  // The process ends with the main window, even while a message box is open.
  setQuitOnLastWindowClosed(false);
}

CQuorvelApp::~CQuorvelApp() {
  platform::SetUserMessageSink(nullptr);
  m_frame.reset();
}

bool CQuorvelApp::InitInstance() {
  if (!ProcessCommandLine()) return false;
  m_frame = std::make_unique<CMainFrame>(m_context);
  auto* view = new CQuorvelView(m_context, *m_frame);
  m_frame->SetView(view, view);
  connect(m_frame.get(), &CMainFrame::appCommand, this, &CQuorvelApp::OnAppCommand);
  connect(m_frame.get(), &CMainFrame::windowClosed, this, &QCoreApplication::quit, Qt::QueuedConnection);
  platform::SetUserMessageSink(&m_messages);
  m_frame->show();
  return true;
}

// The program has no options of its own (the toolkit's, such as -platform,
// are taken out before this). A further argument names a document; the
// program keeps nothing in one, but a name that cannot be opened is an
// error the user should see rather than have ignored.
bool CQuorvelApp::ProcessCommandLine() {
  const QStringList args = arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    QFile document(args[i]);
    if (document.open(QIODevice::ReadOnly)) continue;
    QMessageBox::critical(nullptr, QString::fromUtf8(product::kName),
                          QStringLiteral("无法打开文档“%1”。").arg(args[i]));
    return false;
  }
  return true;
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
