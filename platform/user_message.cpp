#include "platform/user_message.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

std::atomic<UserMessageSink*> g_sink{nullptr};

}  // namespace

void SetUserMessageSink(UserMessageSink* sink) { g_sink.store(sink); }

void ShowUserMessage(MessageKind kind, const std::string& text) {
  if (UserMessageSink* sink = g_sink.load()) {
    sink->ShowMessage(kind, text);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", MessageCaption(kind), text.c_str());
}

const char* MessageCaption(MessageKind kind) { return kind == MessageKind::kError ? "Error" : "Warning"; }

}  // namespace platform
