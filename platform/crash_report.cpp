#include "platform/crash_report.h"

#include <algorithm>
#include <cstdint>

#include "platform/fault_codes.h"
#include "platform/module_map.h"
#include "platform/signal_safe_writer.h"

namespace platform {
namespace {

struct NamedRegister {
  const char* label;
  int index;
};

constexpr NamedRegister kGeneralRegisters[] = {
    {"RAX:", REG_RAX}, {"RBX:", REG_RBX}, {"RCX:", REG_RCX}, {"RDX:", REG_RDX},
    {"RSI:", REG_RSI}, {"RDI:", REG_RDI}, {"R8:", REG_R8},   {"R9:", REG_R9},
    {"R10:", REG_R10}, {"R11:", REG_R11}, {"R12:", REG_R12}, {"R13:", REG_R13},
    {"R14:", REG_R14}, {"R15:", REG_R15},
};

constexpr int kAddressDigits = 16;

std::uint64_t Register(const ucontext_t& context, int index) {
  return static_cast<std::uint64_t>(context.uc_mcontext.gregs[index]);
}

void WriteLogicalAddress(SignalSafeWriter& out, std::uint64_t address, int sectionDigits) {
  const LogicalAddress logical = FindLogicalAddress(address);
  out.Hex(logical.section, sectionDigits).Text(":").Hex(logical.offset, kAddressDigits).Text(" ");
  out.Text(logical.module).Text("\n");
}

void WriteFaultLines(SignalSafeWriter& out, std::uint32_t code, std::uint64_t faultAddress) {
  out.Text("=====================================================\n");
  out.Text("Exception code: ").Hex(code, 8).Text(" ").Text(FaultCodeName(code)).Text("\n");
  out.Text("Fault address:  ").Hex(faultAddress, kAddressDigits).Text(" ");
  WriteLogicalAddress(out, faultAddress, 2);
}

// The kernel saves CS, GS, FS and SS in one word; DS and ES it does not
// save on this processor, so they are not reported.
void WriteRegisters(SignalSafeWriter& out, const ucontext_t& context) {
  out.Text("\nRegisters:\n");
  for (const NamedRegister& r : kGeneralRegisters)
    out.Text(r.label).Hex(Register(context, r.index), kAddressDigits).Text("\n");
  const std::uint64_t segments = Register(context, REG_CSGSFS);
  const auto selector = [segments](int slot) { return (segments >> (16 * slot)) & 0xFFFF; };
  out.Text("CS:RIP:").Hex(selector(0), 4).Text(":").Hex(Register(context, REG_RIP), kAddressDigits).Text("\n");
  out.Text("SS:RSP:").Hex(selector(3), 4).Text(":").Hex(Register(context, REG_RSP), kAddressDigits);
  out.Text("  RBP:").Hex(Register(context, REG_RBP), kAddressDigits).Text("\n");
  out.Text("FS:").Hex(selector(2), 4).Text("  GS:").Hex(selector(1), 4).Text("\n");
  out.Text("Flags:").Hex(Register(context, REG_EFL), kAddressDigits).Text("\n");
}

void WriteFrameLine(SignalSafeWriter& out, std::uint64_t code, std::uint64_t frame) {
  out.Hex(code, kAddressDigits).Text("  ").Hex(frame, kAddressDigits).Text("  ");
  WriteLogicalAddress(out, code, 4);
}

// A frame holds the saved frame pointer and the return address: two words,
// 16-byte aligned, inside the part of the stack that is in use.
bool IsFrame(std::uint64_t frame, std::uint64_t low, std::uint64_t high) {
  return frame % 16 == 0 && frame >= low && frame < high && high - frame >= 16;
}

// Follows the saved frame pointers upwards. Every frame read has been
// checked to lie inside the thread's stack above the stack pointer, which
// is mapped, and each step moves strictly up: the walk ends and never faults.
void WriteStack(SignalSafeWriter& out, const ucontext_t& context, const StackBounds& stack) {
  out.Text("\nCall stack:\n");
  out.Text("Address           Frame             Logical addr          Module\n");
  const std::uint64_t low = std::max<std::uint64_t>(stack.low, Register(context, REG_RSP));
  const std::uint64_t high = stack.high;
  std::uint64_t code = Register(context, REG_RIP);
  std::uint64_t frame = Register(context, REG_RBP);
  WriteFrameLine(out, code, frame);
  if (!IsFrame(frame, low, high)) return;
  for (;;) {
    const auto* words = reinterpret_cast<const std::uint64_t*>(frame);
    const std::uint64_t next = words[0];
    if (next <= frame || !IsFrame(next, low, high)) return;
    code = words[1];
    frame = next;
    WriteFrameLine(out, code, frame);
  }
}

}  // namespace

void WriteCrashReport(int fd, int signal, const siginfo_t& info, const ucontext_t& context,
                      const StackBounds& stack) {
  const bool overflow = signal == SIGSEGV && stack.InGuardArea(reinterpret_cast<std::uintptr_t>(info.si_addr));
  SignalSafeWriter out(fd);
  WriteFaultLines(out, FaultCode(signal, info.si_code, overflow), Register(context, REG_RIP));
  WriteRegisters(out, context);
  WriteStack(out, context, stack);
  out.Text("\n");
}

}  // namespace platform
