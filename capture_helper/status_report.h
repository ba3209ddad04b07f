#pragma once

#include <string_view>

// One status line on standard error: the keyword, then the text with every
// control character made a space, so that no text can end a line early
// (capture_helper/helper_protocol.h).
void Report(std::string_view keyword, std::string_view text = {});
