#include "orvane/host/process.hpp"

namespace orvane::host {

ProcessResult run_process(const std::vector<std::string>&, const ProcessOptions&) {
  throw ProcessStartError("the process runner is not built for Windows yet");
}

bool program_exists(const std::string&) {
  throw ProcessStartError("the process runner is not built for Windows yet");
}

}  // namespace orvane::host
