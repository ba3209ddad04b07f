#pragma once

// The short name of every IP protocol number, indexed by the number.
// Numbers without an assigned keyword read "unknown (N)". Entries 101 to 255
// are completed when the connection table is constructed, before any packet
// is accounted; afterwards the table is read-only.
inline constexpr int kProtocolNameSize = 20;
extern char ProtocolNames[256][kProtocolNameSize];

// Fills entries 101 to 255. Safe to call more than once and from any thread.
void CompleteProtocolNames();
