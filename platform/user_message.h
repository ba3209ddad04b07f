#pragma once

#include <string>
#include <string_view>
#include <vector>

// Marks a message's source text for the translation tools, which know this
// name as their own QT_TRANSLATE_NOOP; the text itself is left as it is.
// The window translates such texts in the context kUserMessageContext.
#define QUORVEL_TRANSLATE_NOOP(context, text) text

namespace platform {

inline constexpr char kUserMessageContext[] = "Core";

// A message box the capture side asks for. "Error" messages carry the
// error icon, "Warning" messages the information icon; neither has an
// owner window.
enum class MessageKind { kError, kWarning };

// What the user is told: a source text with %1, %2, ... where the arguments
// go, and the arguments (paths, commands, the capture library's own words),
// which are data and are never translated. The window translates the source
// text first and fills in the arguments afterwards.
struct UserMessage {
  const char* source;
  std::vector<std::string> arguments;

  // The message in the source texts' language.
  std::string Text() const { return FillArguments(source, arguments); }
  // %1 to %9 in text replaced by the arguments, in one pass: an argument
  // that itself holds "%2" stays as it is. A number with no argument stays.
  static std::string FillArguments(std::string_view text, const std::vector<std::string>& arguments);
};

// Where messages for the user go. The window installs a sink that posts the
// message to the user-interface thread; ShowMessage must return without
// waiting for the user, since the capture thread calls it.
class UserMessageSink {
 public:
  virtual ~UserMessageSink() = default;
  virtual void ShowMessage(MessageKind kind, const UserMessage& message) = 0;
};

// Installs the process-wide sink (null: messages go to standard error, in
// the source texts' language).
void SetUserMessageSink(UserMessageSink* sink);
void ShowUserMessage(MessageKind kind, const UserMessage& message);

// The caption of a message box of that kind: "Error" or "Warning".
const char* MessageCaption(MessageKind kind);

}  // namespace platform
