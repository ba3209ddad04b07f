#pragma once

#include <string>
#include <vector>

// One filter expression that accepts a packet when any of `expressions`
// does: each in parentheses, joined by "or". Empty (every packet) when
// there is none, or when one of them is empty and so accepts everything.
// Each expression must compile on its own, which makes the parentheses
// safe.
std::string AnyOf(const std::vector<std::string>& expressions);
