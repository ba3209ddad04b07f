#include "platform/user_message.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

std::atomic<UserMessageSink*> g_sink{nullptr};

}  // namespace

std::string UserMessage::FillArguments(std::string_view text, const std::vector<std::string>& arguments) {
  std::string filled;
  filled.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool placeholder = text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9';
    const std::size_t index = placeholder ? static_cast<std::size_t>(text[i + 1] - '1') : 0;
    if (placeholder && index < arguments.size()) {
      filled += arguments[index];
      ++i;
    } else {
      filled += text[i];
    }
  }
  return filled;
}

void SetUserMessageSink(UserMessageSink* sink) { g_sink.store(sink); }

void ShowUserMessage(MessageKind kind, const UserMessage& message) {
  if (UserMessageSink* sink = g_sink.load()) {
    sink->ShowMessage(kind, message);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", MessageCaption(kind), message.Text().c_str());
}

const char* MessageCaption(MessageKind kind) { return kind == MessageKind::kError ? "Error" : "Warning"; }

}  // namespace platform
