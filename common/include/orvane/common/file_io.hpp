#pragma once
// Reading files whole and replacing them atomically.
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::common {

// Replaces `path` with `bytes` so that a reader (or the next start after a crash) sees either the
// old content or the new, never a mix: temporary file in the same directory, fsync, rename, fsync
// of the directory. Missing parent directories are created. Throws std::system_error (or
// std::filesystem::filesystem_error) naming the path on failure; the temporary file is removed.
void write_file_atomic(const std::filesystem::path& path, std::string_view bytes);

// The whole file as bytes. Throws std::system_error naming the path when it cannot be read.
std::string read_file(const std::filesystem::path& path);

}  // namespace orvane::common
