#include "filters/compiled_filter.h"

#include <memory>
#include <utility>

namespace {

struct HandleCloser {
  void operator()(pcap_t* handle) const { pcap_close(handle); }
};

}  // namespace

CompiledFilter::CompiledFilter(CompiledFilter&& other) noexcept
    : m_program(std::exchange(other.m_program, {})), m_compiled(std::exchange(other.m_compiled, false)) {}

CompiledFilter& CompiledFilter::operator=(CompiledFilter&& other) noexcept {
  if (this != &other) {
    Free();
    m_program = std::exchange(other.m_program, {});
    m_compiled = std::exchange(other.m_compiled, false);
  }
  return *this;
}

bool CompiledFilter::Compile(const std::string& expression, int linkType, std::string& error) {
  Free();
  error.clear();
  // The library reads a C string: a NUL byte would silently cut the
  // expression short.
  if (expression.find('\0') != std::string::npos) {
    error = "filter expression holds a NUL byte";
    return false;
  }
  const std::unique_ptr<pcap_t, HandleCloser> dead(pcap_open_dead(linkType, kSnapLength));
  if (!dead) {
    error = "cannot compile filters for link type " + std::to_string(linkType);
    return false;
  }
  if (pcap_compile(dead.get(), &m_program, expression.c_str(), 0, PCAP_NETMASK_UNKNOWN) == -1) {
    error = pcap_geterr(dead.get());
    m_program = {};
    return false;
  }
  m_compiled = true;
  return true;
}

void CompiledFilter::Free() {
  if (m_compiled) pcap_freecode(&m_program);
  m_program = {};
  m_compiled = false;
}
