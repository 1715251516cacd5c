#pragma once
// Appending a line to a log file so that it reaches the disk whole.
#include <filesystem>
#include <string>

namespace orvane::app {

// Appends `line` (which ends in '\n') to `path`, creating the file, and flushes it to the disk
// before returning. A last line left without its end by a writer that was killed is ended first,
// so that this one stays whole. Throws std::system_error on failure.
void append_line_durably(const std::filesystem::path& path, std::string line);

}  // namespace orvane::app
