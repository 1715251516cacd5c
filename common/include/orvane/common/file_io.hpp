#pragma once
// Reading files whole and replacing them atomically.
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::common {

enum class Durability {
  Flushed,  // fsync of the file and of its directory: the new content survives a power loss
  Visible,  // no fsync: readers see old or new, never a mix; a power loss may keep the old file
};

// Replaces `path` with `bytes` so that a reader (or the next start after a crash) sees either the
// old content or the new, never a mix: temporary file in the same directory, rename over the
// target (with Flushed: fsync before the rename and of the directory after it). Missing parent
// directories are created. As a write in place would:
// - a symbolic link is followed, and the file it ends at is replaced (the link stays);
// - a file that this process may not write is refused (EACCES, "Permission denied");
// - a writable file in a directory that takes no new file is rewritten in place, not atomically;
//   a full disk still leaves it with its old content (the new part beyond its end is written
//   first and cut off again when it does not fit).
// Content larger than the process's file-size limit (RLIMIT_FSIZE) is refused (EFBIG) before
// anything is written.
// Temporary files left by writers killed mid-save are removed; those of live writers are locked
// and left alone. Throws std::system_error (or std::filesystem::filesystem_error) naming the path
// on failure; the temporary file is removed.
void write_file_atomic(const std::filesystem::path& path, std::string_view bytes,
                       Durability durability = Durability::Flushed);

// The whole file as bytes. Throws std::system_error naming the path when it cannot be read.
std::string read_file(const std::filesystem::path& path);

}  // namespace orvane::common
