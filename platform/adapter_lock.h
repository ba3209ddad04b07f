#pragma once

#include <string>
#include <string_view>

namespace platform {

// The name of an adapter's lock: "qv_" and the device name with every
// backslash, '/' and ':' replaced by '_', so that any device name makes
// one plain file name.
std::string AdapterLockName(std::string_view device);

// The folder of the locks: the per-user runtime folder ($XDG_RUNTIME_DIR),
// else quorvel-<uid> in $TMPDIR or /tmp, a folder of the user's own that is
// made (0700) when missing and used only while it is a real folder that
// belongs to the user and that no one else may change.
std::string AdapterLockFolder();
// The lock's path in that folder.
std::string AdapterLockPath(std::string_view device);

// Tells monitor processes apart that would capture on the same adapter.
// The lock is an flock on the adapter's lock file: any other process can
// test it, and it is gone as soon as its holder releases it, exits or dies,
// so a crashed monitor never keeps an adapter from being used.
class AdapterLock {
 public:
  enum class Outcome {
    kAcquired,  // this object holds the adapter now
    kInUse,     // another holder has it, or its lock exists and cannot be opened
    kNoGuard,   // the lock cannot be made here (no folder of the user's own); nothing is held
  };

  AdapterLock() = default;
  ~AdapterLock() { Release(); }
  AdapterLock(AdapterLock&& other) noexcept;
  AdapterLock& operator=(AdapterLock&& other) noexcept;
  AdapterLock(const AdapterLock&) = delete;
  AdapterLock& operator=(const AdapterLock&) = delete;

  // Releases what this object held first.
  Outcome Acquire(std::string_view device);
  void Release();
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
  int m_folderFd = -1;  // the folder the lock was made in, open while it is held
  std::string m_name;
};

}  // namespace platform
