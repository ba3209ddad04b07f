#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One open packet log file: a descriptor of its own, written with write(2)
// by the log's writer thread alone, and the file's length kept alongside so
// that the size limit can be checked for every record without asking the
// system. Nothing is buffered here: what Write took is the system's, so
// that the process's exit has nothing of the log to write, nor to wait for.
class PacketLogFile {
 public:
  // Opens `path` ("a+" appends, "w+" empties; either creates it) for writes
  // that never wait for a reader: a FIFO or a device that takes nothing
  // more gives EAGAIN, and WaitWritable waits for it as long as the writer
  // chooses. Null when the file cannot be opened. A symbolic link, FIFO or
  // device that another user planted in a shared folder such as /tmp is not
  // used (platform::OpenWithProtectedLinks).
  static std::unique_ptr<PacketLogFile> Open(const char* path, const char* mode);
  // Takes `fd` over as it is, blocking or not; `path` names it to the user.
  static std::unique_ptr<PacketLogFile> Adopt(int fd, std::string path);

  ~PacketLogFile();
  PacketLogFile(const PacketLogFile&) = delete;
  PacketLogFile& operator=(const PacketLogFile&) = delete;

  // One write(2): the bytes taken, perhaps fewer than given, or -1 with
  // errno set (EAGAIN: none can be taken now).
  ssize_t Write(const void* data, std::size_t length);
  // Waits until the file takes more, or `milliseconds` passed.
  void WaitWritable(int milliseconds) const;
  // Takes back the last `bytes` written: the start of a record the file
  // could not take whole (a full disk). False where nothing can be taken
  // back (a pipe, a device); the bytes stay there.
  bool TakeBack(std::size_t bytes);

  // Whether it is a pipe (a FIFO): one that takes a write of up to
  // PIPE_BUF bytes whole or not at all.
  bool IsPipe() const { return m_isPipe; }

  // The name it was opened by.
  const std::string& Path() const { return m_path; }

  // The file's length: what it held when opened plus what was written
  // since then or since the last restart.
  std::uint64_t Size() const { return m_size; }

  // Empties the open file: the very file that was opened, even when its
  // name now leads elsewhere. False when it cannot be emptied (a pipe, a
  // device, an append-only file); writing then simply goes on, and the
  // size counts again from zero so that the next try comes a limit later.
  bool Restart();

 private:
  PacketLogFile(int fd, std::uint64_t size, bool isPipe, std::string path);

  int m_fd;
  std::uint64_t m_size;
  bool m_isPipe;
  std::string m_path;
};
