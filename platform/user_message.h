#pragma once

#include <string>

namespace platform {

// A message box the capture side asks for. "Error" messages carry the
// error icon, "Warning" messages the information icon; neither has an
// owner window.
enum class MessageKind { kError, kWarning };

// Where messages for the user go. The window installs a sink that posts the
// message to the user-interface thread; ShowMessage must return without
// waiting for the user, since the capture thread calls it.
class UserMessageSink {
 public:
  virtual ~UserMessageSink() = default;
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
};

// Installs the process-wide sink (null: messages go to standard error).
void SetUserMessageSink(UserMessageSink* sink);
void ShowUserMessage(MessageKind kind, const std::string& text);

// The caption of a message box of that kind: "Error" or "Warning".
const char* MessageCaption(MessageKind kind);

}  // namespace platform
