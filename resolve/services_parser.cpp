#include "resolve/services_parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/app_files.h"

namespace {

// Reads of at most 299 characters: the rest of a longer line arrives as the
// next line, which keeps the file format's historical line limit.
constexpr int kLineBufferSize = 300;
constexpr unsigned long kHighestPort = 0xFFFF;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t IndexKey(std::uint16_t port, std::uint8_t protocol) {
  return (static_cast<std::uint32_t>(port) << 8) | protocol;
}

const char* SkipSpaces(const char* text) {
  while (*text == ' ') ++text;
  return text;
}

std::optional<std::uint8_t> ProtocolNumber(const char* text) {
  char lower[8] = {};
  std::size_t length = 0;
  for (; text[length] != '\0' && std::strchr(" \r\n", text[length]) == nullptr; ++length) {
    if (length + 1 >= sizeof lower) return std::nullopt;
    const char c = text[length];
    lower[length] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view protocol(lower, length);
  if (protocol == "tcp") return 6;
  if (protocol == "udp") return 17;
  if (protocol == "icmp") return 1;
  return std::nullopt;
}

}  // namespace

CServicesParser::CServicesParser() : CServicesParser(platform::ServicesFilePath()) {}

CServicesParser::CServicesParser(std::string path) : m_path(std::move(path)) { Load(); }

int CServicesParser::Load() {
  m_resolve.store(0, std::memory_order_relaxed);
  m_index.clear();
  m_names.clear();

  FileHandle file(std::fopen(m_path.c_str(), "r"));
  if (!file) return 0;
  char line[kLineBufferSize];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) ParseLine(line);
  return 1;
}

void CServicesParser::ParseLine(const char* line) {
  if (line[0] == '#' || line[0] == '\r' || line[0] == '\n') return;

  const char* nameStart = SkipSpaces(line);
  const char* nameEnd = std::strchr(nameStart, ' ');
  if (nameEnd == nullptr) return;

  const char* numberStart = SkipSpaces(nameEnd);
  const unsigned long port = std::strtoul(numberStart, nullptr, 10);
  if (port == 0 || port > kHighestPort) return;

  const char* slash = std::strchr(numberStart, '/');
  if (slash == nullptr) return;
  const auto protocol = ProtocolNumber(slash + 1);
  if (!protocol) return;

  Add(static_cast<std::uint16_t>(port), *protocol, std::string(nameStart, nameEnd));
}

void CServicesParser::Add(std::uint16_t port, std::uint8_t protocol, std::string name) {
  m_names.push_back(std::move(name));
  m_index.insert_or_assign(IndexKey(port, protocol), m_names.back().c_str());
}

std::int32_t CServicesParser::SetResolve(std::int32_t value) {
  return m_resolve.exchange(value, std::memory_order_relaxed);
}

const char* CServicesParser::Lookup(std::uint16_t port, std::uint8_t protocol) const {
  if (m_resolve.load(std::memory_order_relaxed) == 0) return nullptr;
  const auto found = m_index.find(IndexKey(port, protocol));
  return found == m_index.end() ? nullptr : found->second;
}
