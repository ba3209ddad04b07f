#include "capture_helper/status_report.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "capture_helper/helper_protocol.h"

namespace {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void Report(std::string_view keyword, std::string_view text) {
  namespace hp = helper_protocol;
  std::string line(keyword);
  if (!text.empty()) {
    line += ' ';
    for (const char c : text.substr(0, hp::kMaxLineBytes - keyword.size() - 2))
      line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  }
  line += '\n';
  WriteAll(STDERR_FILENO, line);
}
