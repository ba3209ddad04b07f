#pragma once

#include <span>
#include <string>
#include <string_view>

// Profile (INI) files: the program's settings live in one, and users edit it
// by hand, so reading is forgiving and writing disturbs nothing it does not
// have to.
//
// Reading: section and key names match without regard to ASCII case; spaces
// and tabs around names and around the '=' are ignored, as are blank lines,
// lines starting with ';' or '#', and lines that are neither "[section]" nor
// "key=value". CR LF and LF line ends are both accepted. A value wrapped in
// one pair of double quotes is read without them. When a section or key
// appears twice, the first one counts. A missing file, section or key gives
// the default.
//
// Writing replaces the value of an existing key in place, or adds the key
// after the last non-blank line of its section, or appends the section at
// the end of the file, creating the file when needed. Every other byte of
// the file stays as it was. New lines take the file's own line end (CR LF
// when its first line ends so, else LF). The new content goes to a temporary
// file in the same folder that is then renamed over the original, so a crash
// mid-write leaves either the old file or the new one, never half of one.
//
// No call keeps a file open after it returns, and none throws.
namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, const std::string& path);

// The key's value as a signed decimal number: optional spaces, an optional
// minus sign and digits; anything after the digits is ignored ("12abc" reads
// 12). A number outside the int range is clamped to it. A key that is
// missing, or whose value does not start with a number (empty, "abc"), gives
// `defaultValue`: a garbled hand edit then means the same as no edit at all.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path);

// False when the file cannot be written (missing folder, read-only file or
// folder, full disk) and when the arguments cannot be stored so that they
// read back the same: an empty key, a key that starts with '[', ';' or '#'
// or holds '=', a section name holding ']', or any of them holding a line
// break. Names are stored without spaces at either end, as they are matched. A value with spaces at
// either end, or wrapped in double quotes itself, is written inside one more
// pair of double quotes so that it reads back unchanged; any other value is
// written exactly as given.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path);

struct ProfileValue {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

// Writes every value as WritePrivateProfileString would, in order, with one
// rewrite of the file: a crash leaves all of them written or none. A value
// that cannot be stored is left out and makes the result false; the others
// are still written.
bool WritePrivateProfileStrings(std::span<const ProfileValue> values, const std::string& path);

}  // namespace platform
