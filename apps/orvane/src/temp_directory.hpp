#pragma once
// A fresh directory of our own under the system's temporary directory.
#include <filesystem>
#include <string>

namespace orvane::app {

// Creates "<temp>/<prefix>XXXXXX" with a random suffix that no other directory has. Throws
// Failure when none can be created.
std::filesystem::path make_temp_directory(const std::string& prefix);

}  // namespace orvane::app
