#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// The account the program runs as (its real user id), as the system's
// user database knows it; empty fields when it does not.
struct UserAccount {
  std::string name;
  std::string home;
};
UserAccount CurrentUserAccount();
// The account of any user id; empty fields when the database has none.
UserAccount AccountOf(uid_t uid);

}  // namespace platform
