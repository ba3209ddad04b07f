#pragma once

#include <pcap/pcap.h>

#include <string>

// A filter expression compiled for a link type, on a handle of its own
// that no capture reads: checking an expression never touches a capture.
// Owns its program.
class CompiledFilter {
 public:
  // A capture's snapshot length; what the program keeps of a frame.
  static constexpr int kSnapLength = 262144;

  CompiledFilter() = default;
  ~CompiledFilter() { Free(); }
  CompiledFilter(CompiledFilter&& other) noexcept;
  CompiledFilter& operator=(CompiledFilter&& other) noexcept;
  CompiledFilter(const CompiledFilter&) = delete;
  CompiledFilter& operator=(const CompiledFilter&) = delete;

  // Compiles `expression` without optimisation and with an unknown netmask,
  // as the capture does. Empty `error` and true on success; otherwise the
  // library's message, unchanged.
  bool Compile(const std::string& expression, int linkType, std::string& error);
  bool Compiled() const { return m_compiled; }
  const bpf_program& Program() const { return m_program; }
  void Free();

 private:
  bpf_program m_program{};
  bool m_compiled = false;
};
