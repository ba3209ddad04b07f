#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The processes that hold sockets, from the descriptors listed under
// /proc/PID/fd: only those of processes the caller may look into (its own,
// unless it may read every process's). A process that ends during the scan,
// or whose folder cannot be read, is left out without a word.
struct ProcessSockets {
  struct Holder {
    std::uint32_t inode;
    pid_t pid;
  };
  struct Program {
    pid_t pid;
    char name[16];  // as /proc/PID/comm has it, at most 15 bytes
  };

  std::vector<Holder> holders;  // by process, in the order of the scan
  std::vector<Program> programs;  // the processes that hold a socket
  std::uint32_t processes = 0;    // every process seen
  std::uint32_t unreadable = 0;   // those whose descriptors could not be read
};

// Scans `procRoot` (normally "/proc"). False when it cannot be read at all.
bool ScanProcessSockets(const char* procRoot, ProcessSockets& found);

// The name of the program of process `pid` as the kernel keeps it for
// every process and lets anyone read (/proc/PID/comm under the folder
// `procFd`); empty when the process is gone.
void ReadProgramName(int procFd, pid_t pid, char (&name)[16]);

// The socket inode a descriptor's link names ("socket:[12345]"); 0 for any
// other link.
std::uint32_t SocketInodeOfLink(const char* link, std::size_t length);
