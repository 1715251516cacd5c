#pragma once
// Keeping a file that could not be read out of the way of the next save.
#include <chrono>
#include <filesystem>

namespace orvane::common {

// Renames `path` to "<path>.corrupt-<local time %Y%m%d-%H%M%S>", with ".1", ".2", ... appended
// while that name is taken, and returns the new path. Throws std::filesystem::filesystem_error
// when the file cannot be renamed.
std::filesystem::path set_aside(const std::filesystem::path& path,
                                std::chrono::local_time<std::chrono::microseconds> now);

}  // namespace orvane::common
