#pragma once

#include <string>

// Quorvel's own programs never hold a capability: only quorvel-capture,
// the capture helper, is granted CAP_NET_RAW, and it gives it up once the
// adapter is open. A program that was granted some anyway (an old setcap
// on the window's program, or a start as root) lets them all go at once.
namespace platform {

// Empties the calling thread's permitted, effective, inheritable and
// ambient sets. Call it first thing in main(), before any other thread
// starts (capabilities belong to a thread, and a new one starts with its
// creator's). A program started from this one afterwards still gets the
// capabilities of its own file, or of root. True when none is left.
bool DropAllCapabilities();

// The command that grants the capture helper what capture needs, to quote
// in a message when opening an adapter was refused.
std::string GrantCaptureCapabilityCommand();

// Installed, only members of this group may run the capture helper.
inline constexpr char kCaptureGroup[] = "quorvel";
// The command that makes the user running this program a member of it.
std::string JoinCaptureGroupCommand();

}  // namespace platform
