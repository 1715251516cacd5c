#include "process_text.hpp"

#include <cmath>

#include "orvane/common/py_text.hpp"

namespace orvane::host::process_text {

std::string args_repr(const std::vector<std::string>& args) {
  std::string out = "[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i) out += ", ";
    out += '\'';
    for (char c : args[i]) {
      if (c == '\'' || c == '\\') out += '\\';
      out += c;
    }
    out += '\'';
  }
  return out + "]";
}

std::string seconds_text(double seconds) {
  if (seconds == std::floor(seconds) && std::abs(seconds) < 1e15) {
    return std::to_string(static_cast<long long>(seconds));
  }
  return common::py_repr(seconds);
}

std::string timed_out(const std::vector<std::string>& args, double seconds) {
  return "Command '" + args_repr(args) + "' timed out after " + seconds_text(seconds) + " seconds";
}

std::string exit_status(const std::vector<std::string>& args, int code) {
  return "Command '" + args_repr(args) + "' returned non-zero exit status " + std::to_string(code) +
         ".";
}

}  // namespace orvane::host::process_text
