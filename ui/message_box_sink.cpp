#include "ui/message_box_sink.h"

#include <QMessageBox>

namespace {

void ShowBox(platform::MessageKind kind, const QString& text) {
  const QMessageBox::Icon icon =
      kind == platform::MessageKind::kError ? QMessageBox::Critical : QMessageBox::Information;
  auto* box = new QMessageBox(icon, QString::fromUtf8(platform::MessageCaption(kind)), text,
                              QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Without an owner the box keeps no window from being used.
  box->setWindowModality(Qt::NonModal);
  box->show();
}

}  // namespace

void CMessageBoxSink::ShowMessage(platform::MessageKind kind, const std::string& text) {
  QString message = QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMetaObject::invokeMethod(
      this, [kind, message = std::move(message)] { ShowBox(kind, message); }, Qt::QueuedConnection);
}
