#pragma once
// JSON that the user hands to a command (a file, a parameter string).
#include <filesystem>
#include <string>

#include "output.hpp"

namespace orvane::app {

// Nesting deeper than this is refused: the components copy and walk records recursively.
inline constexpr int MAX_INPUT_DEPTH = 512;

// The file's bytes; Failure naming the file when it cannot be read.
std::string read_input_file(const std::filesystem::path& path);

// The parsed value; Failure naming `what` when the text is not JSON or nests too deep.
Json parse_json_input(const std::string& text, const std::string& what);

}  // namespace orvane::app
