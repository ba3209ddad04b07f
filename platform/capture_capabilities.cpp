#include "platform/capture_capabilities.h"

#include <sys/capability.h>
#include <sys/prctl.h>

#include "platform/app_files.h"
#include "platform/user_account.h"

namespace platform {
namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace

bool DropAllCapabilities() {
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  cap_t none = cap_init();
  if (none == nullptr) return false;
  cap_set_proc(none);
  cap_t held = cap_get_proc();
  const bool dropped = held != nullptr && cap_compare(held, none) == 0;
  cap_free(held);
  cap_free(none);
  return dropped;
}

std::string GrantCaptureCapabilityCommand() {
  return "sudo setcap cap_net_raw=p " + ShellQuoted(CaptureHelperPath());
}

std::string JoinCaptureGroupCommand() {
  const std::string name = CurrentUserAccount().name;
  return "sudo adduser " + (name.empty() ? std::string("\"$USER\"") : ShellQuoted(name)) + " " + kCaptureGroup;
}

}  // namespace platform
