#pragma once
// JSON that the user hands to a command (a file, standard input, a parameter string).
#include <cstddef>
#include <filesystem>
#include <string>

#include "orvane/common/json_read.hpp"
#include "output.hpp"

namespace orvane::app {

// Nesting deeper than this is refused: the components copy and walk records recursively.
inline constexpr int MAX_INPUT_DEPTH = common::MAX_JSON_DEPTH;
// The most a command reads from one input: a JSON skill or conversation is far smaller, and a
// device such as /dev/zero would otherwise be read until memory runs out.
inline constexpr std::size_t MAX_INPUT_BYTES = std::size_t{64} << 20;

// The file's bytes ("-": standard input); Failure naming the file when it cannot be read, is a
// directory, or holds more than MAX_INPUT_BYTES.
std::string read_input_file(const std::filesystem::path& path);

// How messages name an input file: "standard input" for "-".
std::string input_name(const std::filesystem::path& path);

// The parsed value; Failure naming `what` when the text is not JSON or nests too deep.
Json parse_json_input(const std::string& text, const std::string& what);

}  // namespace orvane::app
