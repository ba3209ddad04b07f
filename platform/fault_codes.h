#pragma once

#include <cstdint>

// The crash report names a fault by a 32-bit code and its name, the codes
// the report has always used. Each fault signal maps to the code of the
// same meaning; a signal without one gets kSignalCodeBase plus its number.
namespace platform {

inline constexpr std::uint32_t kSignalCodeBase = 0xE0000000;

// The code of a fault signal with its si_code. `inStackGuard`: the faulting
// address lies in the guard area just below the faulting thread's stack.
std::uint32_t FaultCode(int signal, int signalCode, bool inStackGuard);

// The code's name from the table; for a code made from a signal, the
// system's description of that signal; otherwise "". Never null.
// Async-signal-safe.
const char* FaultCodeName(std::uint32_t code);

}  // namespace platform
