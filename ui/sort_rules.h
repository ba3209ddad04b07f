#pragma once

#include <cstdint>
#include <string_view>

// How the list compares two cells of a column when it sorts: the address
// columns by the address (numbers before names), the protocol, program and
// user columns as text, the port and packet columns by the integer their
// text starts with, the traffic and the two speed columns by the amount
// they show.
enum class ColumnOrder { kText, kNumber, kAmount, kAddress };
ColumnOrder ColumnSortOrder(int column);

// The integer at the start of a cell's text, read as the C library's atoi
// reads it: leading white space, an optional sign, then decimal digits up
// to the first other character; 0 when there are none. So a service name
// reads 0. Unlike atoi it does not overflow: counters past 2^31 (a
// connection of several gigabytes) still sort above smaller ones.
std::int64_t LeadingNumber(std::string_view text);

// The amount an amount cell shows, in hundredths of a byte, whatever its
// unit: "2.88 Mb" is more than "16.82 Kb", and "1.75" more than "1.25".
// The unit word says the unit ("bytes" or "b/s", "Kb" or "Kb/s", "Mb" or
// "Mb/s"); a figure without one is in `units`, the unit the settings name
// (the list writes the word only in the dynamic unit). Only two decimals
// count, as only two are shown; text without digits is 0.
std::int64_t AmountValue(std::string_view text, int units);
