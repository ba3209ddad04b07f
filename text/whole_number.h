#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A whole decimal number of digits only (no sign, no spaces) from
// `smallest` to `largest`, as command lines and addresses give them.
std::optional<std::uint32_t> ParseWholeNumber(std::string_view text, std::uint32_t smallest, std::uint32_t largest);
