#pragma once

#include <cstdint>
#include <string_view>

struct ConnectionEndpoints;

// Who owns the local end of a connection: the program (its process id and
// the name the kernel keeps for it) and the user. Either may be unknown:
// a socket whose process could not be seen still has its user.
struct ConnectionOwner {
  static constexpr int kNameSize = 33;  // a user name of 32 bytes, or a program's 15, and the end

  std::int32_t pid = 0;  // 0: the program is not known
  std::uint32_t uid = 0;
  bool uidKnown = false;
  char program[kNameSize] = {};
  char user[kNameSize] = {};

  bool Known() const { return pid != 0 || uidKnown; }
};

// Copies a name, cut to what an owner holds.
void CopyOwnerName(char (&to)[ConnectionOwner::kNameSize], std::string_view from);

// What the program's column shows: "name (pid)", the number alone when the
// name could not be read, empty when the program is not known. Returns
// `text`.
constexpr int kProgramTextSize = ConnectionOwner::kNameSize + 14;
const char* ProgramText(const ConnectionOwner& owner, char (&text)[kProgramTextSize]);
// What the user's column shows: the name, or the number when the user
// database has none; empty when not known.
const char* UserText(const ConnectionOwner& owner);

// Where the refresh pass learns the owners of connections. Implementations
// answer from a table that a thread of their own keeps, so that Find costs
// the capture thread one lookup and never a wait for a system call.
class OwnerLookup {
 public:
  virtual ~OwnerLookup() = default;

  // The owner of the local socket at either end of the connection; false
  // when none is known (yet), and `owner` is then left as it was.
  virtual bool Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const = 0;
  // Changes whenever owners may have become known that were not before.
  virtual std::uint64_t Generation() const = 0;
  // Says that connections wait for their owners: the implementation looks
  // again soon. Never blocks.
  virtual void WantOwners() = 0;
};
