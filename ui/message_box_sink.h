#pragma once

#include <QObject>

#include "platform/user_message.h"

// Shows the capture side's messages as message boxes without an owner
// window. ShowMessage may be called from any thread and returns at once:
// the box is built and shown later on the thread this object lives on,
// and it does not block that thread either.
class CMessageBoxSink : public QObject, public platform::UserMessageSink {
  Q_OBJECT

 public:
  using QObject::QObject;

  void ShowMessage(platform::MessageKind kind, const platform::UserMessage& message) override;

  // The message in the window's language with its arguments filled in,
  // and its lines as the toolkit breaks them.
  static QString TranslatedText(const platform::UserMessage& message);
};
