// Stands in for the program that tells the user about a crash. Appends its
// arguments, tab-separated, as one line to the file that QUORVEL_TEST_RECORD
// names, waits QUORVEL_TEST_RECORD_DELAY_MS milliseconds if set, and exits 0.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char* argv[]) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += std::string(i > 1 ? "\t" : "") + argv[i];
  line += '\n';
  const char* record = std::getenv("QUORVEL_TEST_RECORD");
  if (record == nullptr) return 1;
  const int fd = open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  close(fd);
  if (const char* delay = std::getenv("QUORVEL_TEST_RECORD_DELAY_MS"))
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
  return 0;
}
