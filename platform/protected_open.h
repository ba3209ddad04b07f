#pragma once

#include <sys/types.h>

namespace platform {

// open(2) of `path` that follows a symbolic link only where the kernel's
// protected_symlinks rule would, whatever the system's setting: a link that
// lies in a sticky, world-writable folder (such as /tmp) is followed only
// when it belongs to us or to the folder's owner. Anyone may plant a link
// there, and a privileged writer following it would write, or empty, a
// file of the link owner's choosing. Every link on the way is judged so,
// those naming a folder as well as the last one.
//
// A FIFO or a device found at the end of the path in such a folder is
// judged as a link is (the kernel's protected_fifos rule, devices too): a
// FIFO another user planted and never reads would hold up whoever writes
// to it for good. The open itself never waits for a FIFO's other end (a
// FIFO opened only for writing with no reader gives ENXIO) and never makes
// a terminal the process's own; the descriptor is blocking unless `flags`
// ask for O_NONBLOCK.
//
// Returns the descriptor (close-on-exec), or -1 with errno set; a link,
// FIFO or device that is not used gives EACCES, as the kernel's rules do.
int OpenWithProtectedLinks(const char* path, int flags, mode_t mode);

}  // namespace platform
