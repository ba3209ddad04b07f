#pragma once

#include <functional>
#include <string>

namespace platform {

enum class ReadOutcome { kRead, kMissing, kFailed };

// Reads a regular file whole. A named pipe, a folder or a read error counts
// as failed; a missing file (or folder on the way) as missing.
ReadOutcome ReadWholeFile(const std::string& path, std::string& content);

// Gives the file's text (empty when it does not exist) to `edit` and puts
// the result in its place. The new text goes to a temporary file beside it,
// synced, then renamed over the old one, so a crash or a full disk never
// leaves a half-written file. The file keeps its mode and owner, a link
// keeps pointing where it did, and a read-only file is not replaced.
// Temporary files beside it that writers killed mid-write left behind are
// removed first (never one whose writer still runs).
// Returns false on any failure, the old file then unchanged.
bool RewriteFile(const std::string& path, const std::function<std::string(const std::string&)>& edit);

}  // namespace platform
