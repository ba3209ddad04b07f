// Stands in for another monitor process: holds the lock of the adapter
// named on the command line, says "held" (or "refused"), and lets it go
// when its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "platform/adapter_lock.h"

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  platform::AdapterLock lock;
  const bool held = lock.Acquire(argv[1]) == platform::AdapterLock::Outcome::kAcquired;
  std::puts(held ? "held" : "refused");
  std::fflush(stdout);
  char byte;
  while (read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return held ? 0 : 1;
}
