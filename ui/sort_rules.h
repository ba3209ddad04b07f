#pragma once

#include <cstdint>
#include <string_view>

// How the list compares two cells of a column when it sorts: the address
// and protocol columns as text, the port, amount and count columns by the
// integer their text starts with.
bool ColumnSortsAsNumber(int column);

// The integer at the start of a cell's text, read as the C library's atoi
// reads it: leading white space, an optional sign, then decimal digits up
// to the first other character; 0 when there are none. So "1.75" reads 1,
// "2.10 Kb" reads 2 and a service name reads 0. Unlike atoi it does not
// overflow: counters past 2^31 (a connection of several gigabytes) still
// sort above smaller ones.
std::int64_t LeadingNumber(std::string_view text);
