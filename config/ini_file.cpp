#include "config/ini_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/app_files.h"
#include "platform/profile.h"

namespace {

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::uint32_t ParseUnsigned32(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  constexpr std::uint64_t kMax = 0xFFFFFFFFu;
  std::uint64_t value = 0;
  bool overflow = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    if (value > kMax) {
      overflow = true;
      value = kMax;
    }
  }
  // An overflow saturates whatever the sign, as the C library does.
  if (overflow) return static_cast<std::uint32_t>(kMax);
  const auto magnitude = static_cast<std::uint32_t>(value);
  return negative ? 0u - magnitude : magnitude;
}

}  // namespace

CIniFile::CIniFile() : m_path(platform::SettingsFilePath()) {}

CIniFile::CIniFile(std::string path) : m_path(std::move(path)) {}

CIniFile::~CIniFile() = default;

int CIniFile::GetString(const char* section, const char* key, const char* defaultText, char* buffer,
                        int size) const {
  if (buffer == nullptr || size < 1) return 0;
  const std::string value =
      platform::GetPrivateProfileString(section, key, defaultText ? defaultText : "", m_path);
  // A NUL inside the file ends the text as the caller will see it.
  const std::size_t textLength = std::min(value.find('\0'), value.size());
  const std::size_t length = std::min(textLength, static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

int CIniFile::WriteString(const char* section, const char* key, const char* value) {
  return platform::WritePrivateProfileString(section, key, value ? value : "", m_path) ? 1 : 0;
}

std::int32_t CIniFile::GetInt(const char* section, const char* key, std::int32_t defaultValue) const {
  return platform::GetPrivateProfileInt(section, key, defaultValue, m_path);
}

int CIniFile::WriteInt(const char* section, const char* key, std::int32_t value) {
  return WriteString(section, key, std::to_string(value).c_str());
}

std::uint32_t CIniFile::GetUInt(const char* section, const char* key, std::uint32_t defaultValue) const {
  const std::string defaultText = std::to_string(defaultValue);
  return ParseUnsigned32(platform::GetPrivateProfileString(section, key, defaultText, m_path));
}

int CIniFile::WriteUInt(const char* section, const char* key, std::uint32_t value) {
  return WriteString(section, key, std::to_string(value).c_str());
}

int CIniFile::WriteValues(const std::vector<Value>& values) {
  std::vector<platform::ProfileValue> profileValues;
  profileValues.reserve(values.size());
  for (const Value& v : values) profileValues.push_back({v.section, v.key, v.text});
  return platform::WritePrivateProfileStrings(profileValues, m_path) ? 1 : 0;
}
