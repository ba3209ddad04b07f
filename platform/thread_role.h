#pragma once

namespace platform {

// The threads the crash report tells apart.
enum class ThreadRole { kMain, kCapture, kResolver, kLogWriter };

}  // namespace platform
