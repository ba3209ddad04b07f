#include "platform/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {

UserAccount CurrentUserAccount() { return AccountOf(getuid()); }

UserAccount AccountOf(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  UserAccount account;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return account;
  if (entry.pw_name != nullptr) account.name = entry.pw_name;
  if (entry.pw_dir != nullptr) account.home = entry.pw_dir;
  return account;
}

}  // namespace platform
