#include "source/open_failure_message.h"

#include "platform/app_files.h"
#include "platform/capture_capabilities.h"

// kMissingCapability: the helper ran but the system refused it the adapter,
// as it lacks its capability. File capabilities are applied when a program
// starts; the helper starts afresh with every Start, so a grant counts from
// the next. kCannotRunHelper: the system would not run the helper.
// Installed, it runs only for the members of its group, and a new member's
// programs get the group only from their next login.
platform::UserMessage OpenFailureMessage(const std::string& libraryText, OpenHint hint) {
  if (hint == OpenHint::kCannotRunHelper && !platform::IsInstalled()) hint = OpenHint::kMissingCapability;
  switch (hint) {
    case OpenHint::kMissingCapability:
      return {QUORVEL_TRANSLATE_NOOP("Core",
                                     "无法启动驱动程序\r\nError message : %1"
                                     "\r\n没有抓包权限: 请以 root 身份运行, 或授予抓包程序 quorvel-capture 抓包能力: %2"
                                     "\r\n能力在程序启动时才生效: 运行中的程序被授予能力后须重新启动。"
                                     "quorvel-capture 在每次开始监控时启动, 授予后重新开始监控即可。"),
              {libraryText, platform::GrantCaptureCapabilityCommand()}};
    case OpenHint::kCannotRunHelper:
      return {QUORVEL_TRANSLATE_NOOP("Core",
                                     "无法启动驱动程序\r\nError message : %1"
                                     "\r\n没有抓包权限: 只有用户组 %2 的成员才能抓包。"
                                     "请以 root 身份运行, 或把自己加入该组: %3"
                                     "\r\n组成员身份在登录时才生效: 加入后请注销并重新登录, 再启动 Quorvel。"),
              {libraryText, platform::kCaptureGroup, platform::JoinCaptureGroupCommand()}};
    case OpenHint::kNone: break;
  }
  return {QUORVEL_TRANSLATE_NOOP("Core", "无法启动驱动程序\r\nError message : %1"), {libraryText}};
}
