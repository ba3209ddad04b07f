#pragma once

#include <string>

#include "platform/user_message.h"

// What the user can do about an adapter that could not be opened, when
// that is known.
enum class OpenHint { kNone, kMissingCapability, kCannotRunHelper };

// The message for an adapter that could not be opened: the capture
// library's own words (libraryText) and the hint, with the command that
// grants the capability or joins the capture group filled in.
platform::UserMessage OpenFailureMessage(const std::string& libraryText, OpenHint hint);
