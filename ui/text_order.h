#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Ranks distinct texts in the order of the user's locale, case-sensitive:
// rank[i] is the position of texts[i] in that order, texts the locale
// holds equal sharing one rank. The texts are UTF-8 and all different.
//
// Collating is costly and a list column may hold 100k different dotted
// addresses. Texts of digits and full stops only sort in every locale as
// their bytes do (full stop before the digits, digits by value, a prefix
// first), so only the other texts, the names, go through the collator.
std::vector<std::uint32_t> RankTexts(const std::vector<std::string_view>& texts);
