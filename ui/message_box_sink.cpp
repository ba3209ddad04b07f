#include "ui/message_box_sink.h"

#include <QCoreApplication>
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

QString CMessageBoxSink::TranslatedText(const platform::UserMessage& message) {
  const QString source = QCoreApplication::translate(platform::kUserMessageContext, message.source);
  const std::string text = platform::UserMessage::FillArguments(source.toStdString(), message.arguments);
  return QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void CMessageBoxSink::ShowMessage(platform::MessageKind kind, const platform::UserMessage& message) {
  QMetaObject::invokeMethod(
      this, [kind, text = TranslatedText(message)] { ShowBox(kind, text); }, Qt::QueuedConnection);
}
