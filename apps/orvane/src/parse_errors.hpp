#pragma once
// What a person is told when the command line cannot be parsed.
#include <CLI/CLI.hpp>
#include <string>

namespace orvane::app {

// One line for `error`, which `app` threw: an unknown command or option is named with the
// nearest known one ("unknown command 'hist' — did you mean 'history'?"), a missing command with
// the ones there are; any other error in CLI11's words.
std::string explain_parse_error(CLI::App& app, const CLI::ParseError& error);

// The candidate that `typed` begins, or else the one closest to it (one edit away for names of
// three or four letters, two for longer ones); empty when none is close.
std::string nearest(const std::string& typed, const std::vector<std::string>& candidates);

}  // namespace orvane::app
