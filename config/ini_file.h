#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Typed access to the settings file. Every call reads or writes the file
// anew through the platform's profile functions; nothing is cached, so
// another process may change the file between two calls.
class CIniFile {
 public:
  // The settings file beside the executable (its name with ".dat").
  CIniFile();
  explicit CIniFile(std::string path);
  virtual ~CIniFile();

  // Copies the value, or `defaultText` when the key is missing, into
  // `buffer`, cut to `size` - 1 characters and always terminated. Returns the
  // number of characters copied; with no room for a terminator (size < 1)
  // nothing is copied.
  int GetString(const char* section, const char* key, const char* defaultText, char* buffer,
                int size) const;
  int WriteString(const char* section, const char* key, const char* value);

  std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue) const;
  int WriteInt(const char* section, const char* key, std::int32_t value);

  // The value read as the C library's unsigned base-10 conversion reads it
  // on a 32-bit system: leading white space skipped, an optional sign, the
  // digits up to the first non-digit; no digits give 0 (so a present empty
  // value reads 0, not the default), a number beyond 32 bits gives
  // 4294967295, a minus sign negates modulo 2^32.
  std::uint32_t GetUInt(const char* section, const char* key, std::uint32_t defaultValue) const;
  int WriteUInt(const char* section, const char* key, std::uint32_t value);

  // Values as the Write calls above would store them, written together in
  // one rewrite of the file, so that a crash never leaves some of them
  // written and the rest not. Nonzero when every value was written; a
  // value that cannot be stored does not keep the others from the file.
  struct Value {
    const char* section;
    const char* key;
    std::string text;
  };
  int WriteValues(const std::vector<Value>& values);

  const std::string& Path() const { return m_path; }

 protected:
  std::string m_path;
};
