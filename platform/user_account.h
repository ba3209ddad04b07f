#pragma once

#include <string>

namespace platform {

// The account the program runs as (its real user id), as the system's
// user database knows it; empty fields when it does not.
struct UserAccount {
  std::string name;
  std::string home;
};
UserAccount CurrentUserAccount();

}  // namespace platform
