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

// The operation ended in a way a script must tell apart from success and from failure: the
// command prints what it has, then exits with `code` and what() on stderr.
class ExitStatus : public std::runtime_error {
 public:
  ExitStatus(int code, const std::string& message) : std::runtime_error(message), code(code) {}
  int code;
};

// The command line asks for something that cannot be done as written.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Prints a library's JSON record on stdout, two-space indented.
void print_json(const Json& value);

}  // namespace orvane::app
