#include "orvane/host/platform.hpp"

#include <cstdlib>
#include <sstream>

namespace orvane::host {

std::vector<std::string> get_screenshot_command() {
  std::vector<std::string> args;
  if (const char* configured = std::getenv("ORVANE_SCREENSHOT_COMMAND")) {
    std::istringstream words(configured);
    for (std::string word; words >> word;) args.push_back(word);
  }
  return args;
}

}  // namespace orvane::host
