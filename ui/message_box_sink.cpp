#include "ui/message_box_sink.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

// The captions in the window's language: "Error" and "Warning" in English.
const char* const kErrorCaption = QT_TRANSLATE_NOOP("CMessageBoxSink", "错误");
const char* const kWarningCaption = QT_TRANSLATE_NOOP("CMessageBoxSink", "警告");

void ShowBox(platform::MessageKind kind, const QString& text) {
  const bool error = kind == platform::MessageKind::kError;
  const QString caption = QCoreApplication::translate("CMessageBoxSink", error ? kErrorCaption : kWarningCaption);
  auto* box = new QMessageBox(error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
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
