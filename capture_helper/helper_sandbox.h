#pragma once

// What keeps the helper's packet socket from ever sending a frame, even if
// a flaw in the frame or filter path handed its control to an attacker.

// No other process, even one of the same user, may attach to the helper,
// read its memory or take its descriptors (pidfd_getfd). The kernel makes a
// process so by itself only when an exec changed its credentials, which is
// not the case when it was started by a process that already held the
// capture capability.
bool MakeUndumpable();

// A system-call filter, for the rest of the helper's life and its
// children's (it needs no-new-privileges, which DropCapabilitiesForGood
// sets). With `packetFd` the adapter's socket, it refuses with EPERM:
//   - every way of sending through that socket: write, writev, pwrite64,
//     pwritev, pwritev2, send(to), sendmsg, sendmmsg, sendfile and splice
//     to it, vmsplice, and binding or connecting it elsewhere; of its
//     options, only attaching and detaching a capture filter are allowed;
//     asynchronous I/O (io_uring and io_submit), whose requests no filter
//     sees, on any descriptor;
//   - every way of giving it another number, where the rules above would
//     not know it: dup, dup2, dup3, fcntl F_DUPFD and F_DUPFD_CLOEXEC, and
//     pidfd_getfd;
//   - every way of handing it to another process: socketpair, sockets of
//     any family but IPv4, IPv6 and netlink (a name lookup needs those),
//     and sendmsg and sendmmsg on the standard descriptors, where the
//     session's command socket is;
//   - execve and execveat, and making the process dumpable again.
// Everything else is allowed, writing to the standard descriptors
// included. A system call of another architecture ends the process.
// False when the kernel did not take the filter.
bool ConfineToCapture(int packetFd);

// True in the sanitizer builds, whose leak check makes the process
// dumpable for a moment to look at its own threads: there the filter
// leaves that switch alone.
bool DumpableSwitchLeftAlone();
