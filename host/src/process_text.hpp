#pragma once
// The texts of the process runner's errors, the same on every platform.
#include <string>
#include <vector>

namespace orvane::host::process_text {

// Python's repr of the argument list, as its subprocess errors show it.
std::string args_repr(const std::vector<std::string>& args);

// "5" for whole seconds, else Python's repr of the float ("0.3").
std::string seconds_text(double seconds);

// "Command '[...]' timed out after 5 seconds"
std::string timed_out(const std::vector<std::string>& args, double seconds);

// "Command '[...]' returned non-zero exit status 3."
std::string exit_status(const std::vector<std::string>& args, int code);

}  // namespace orvane::host::process_text
