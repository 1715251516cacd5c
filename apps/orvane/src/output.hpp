#pragma once
// What commands print and how they fail (exit 1: the operation failed; exit 2: the command line
// is wrong).
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace orvane::app {

using Json = nlohmann::ordered_json;

// The operation failed; what() is the one line shown on stderr.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line asks for something that cannot be done as written.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Prints a library's JSON record on stdout, two-space indented.
void print_json(const Json& value);

}  // namespace orvane::app
