#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// One open packet log file: a C-library stream with a large buffer of its
// own, and the file's length kept alongside so that the size limit can be
// checked for every record without asking the system.
class PacketLogFile {
 public:
  // The stream buffer: a disk write every few thousand records.
  static constexpr std::size_t kStreamBufferSize = 256 * 1024;

  // Opens `path` in binary mode ("a+" appends, "w+" empties): the records
  // carry their own CR LF line ends. Null when the file cannot be opened.
  // A symbolic link that another user planted in a shared folder such as
  // /tmp is not followed (platform::OpenWithProtectedLinks).
  static std::unique_ptr<PacketLogFile> Open(const char* path, const char* mode);

  ~PacketLogFile();
  PacketLogFile(const PacketLogFile&) = delete;
  PacketLogFile& operator=(const PacketLogFile&) = delete;

  // False on a write error (a full disk), with errno saying which; the
  // bytes are lost, and writing goes on.
  bool Write(const void* data, std::size_t length);
  // Hands what the stream holds to the system; false as Write.
  bool Flush();
  // Forgets an error, so that the next one is seen again.
  void ClearError() { std::clearerr(m_file); }

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
  PacketLogFile(std::FILE* file, std::unique_ptr<char[]> buffer, std::uint64_t size, std::string path);

  std::FILE* m_file;
  std::unique_ptr<char[]> m_buffer;  // the stream's buffer; outlives the stream
  std::uint64_t m_size;
  std::string m_path;
};
