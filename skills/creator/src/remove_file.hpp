#pragma once
#include <filesystem>

namespace orvane::skills {

// Removes the file at `path`; a directory there is left alone and is an error. Throws
// std::system_error naming the path when nothing was removed.
void remove_file(const std::filesystem::path& path);

}  // namespace orvane::skills
