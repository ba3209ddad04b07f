#include "table/connection_owner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void CopyOwnerName(char (&to)[ConnectionOwner::kNameSize], std::string_view from) {
  const std::size_t length = std::min(from.size(), sizeof to - 1);
  std::memcpy(to, from.data(), length);
  to[length] = '\0';
}

const char* ProgramText(const ConnectionOwner& owner, char (&text)[kProgramTextSize]) {
  if (owner.pid == 0)
    text[0] = '\0';
  else if (owner.program[0] == '\0')
    std::snprintf(text, sizeof text, "%d", static_cast<int>(owner.pid));
  else
    std::snprintf(text, sizeof text, "%s (%d)", owner.program, static_cast<int>(owner.pid));
  return text;
}

const char* UserText(const ConnectionOwner& owner) { return owner.uidKnown ? owner.user : ""; }
