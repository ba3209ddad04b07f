#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// What the harnesses share: reading a fuzzer's input piece by piece, a
// scratch file to hand it to code that reads files, and the check that
// turns a broken promise into a finding.
namespace fuzz {

// Takes values from the front of the input; past its end every value is 0
// and every piece empty, so any input is a valid one.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }
  std::uint32_t Long() { return static_cast<std::uint32_t>(Word()) << 16 | Word(); }
  // Up to `most` bytes, in a buffer of exactly their length: a read past
  // them is a read past the buffer, which the address sanitizer reports.
  std::vector<std::uint8_t> Bytes(std::size_t most) {
    const std::size_t count = std::min(most, m_size - m_at);
    std::vector<std::uint8_t> piece(m_data + m_at, m_data + m_at + count);
    m_at += count;
    return piece;
  }
  std::vector<std::uint8_t> Rest() { return Bytes(m_size - m_at); }
  bool Empty() const { return m_at >= m_size; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// A file of the harness's own, rewritten for every input; in memory where
// the system offers it, so that a file read or a sync costs no disk.
class ScratchFile {
 public:
  explicit ScratchFile(const char* name) {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    RemoveFoldersOfDeadHarnesses(base);
    m_folder = base + "/" + kPrefix + std::to_string(getpid());
    mkdir(m_folder.c_str(), 0700);
    m_path = m_folder + "/" + name;
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  static constexpr const char* kPrefix = "quorvel-fuzz-";

  const std::string& Path() const { return m_path; }
  void Write(const std::uint8_t* data, std::size_t size) const {
    const int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) Fail("scratch file");
    for (std::size_t done = 0; done < size;) {
      const ssize_t put = write(fd, data + done, size - done);
      if (put <= 0) Fail("scratch file write");
      done += static_cast<std::size_t>(put);
    }
    close(fd);
  }

 private:
  // A harness that found something aborts, its folder left behind.
  static void RemoveFoldersOfDeadHarnesses(const std::string& base) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(kPrefix, 0) != 0) continue;
      const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
      struct stat info {};
      if (pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
      if (lstat(entry.path().c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid())
        std::filesystem::remove_all(entry.path(), error);
    }
  }

  std::string m_folder;
  std::string m_path;
};

}  // namespace fuzz
