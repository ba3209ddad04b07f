#pragma once

#include <sys/types.h>

namespace platform {

// open(2) of `path` that follows a symbolic link only where the kernel's
// protected_symlinks rule would, whatever the system's setting: a link that
// lies in a sticky, world-writable folder (such as /tmp) is followed only
// when it belongs to us or to the folder's owner. Anyone may plant a link
// there, and a privileged writer following it would write, or empty, a
// file of the link owner's choosing. Every link on the way is judged so,
// those naming a folder as well as the last one. A named pipe or a device
// there is opened on the same terms (the kernel's protected_fifos rule,
// for any open).
//
// Returns the descriptor (close-on-exec), or -1 with errno set; a link that
// is not followed, or a pipe or device not opened, gives EACCES, as the
// kernel's rule does.
int OpenWithProtectedLinks(const char* path, int flags, mode_t mode);

}  // namespace platform
