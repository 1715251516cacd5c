#include "log.hpp"

#include "orvane/host/log.hpp"

namespace orvane::skills {

spdlog::logger& creator_log() {
  static const auto logger = host::get_logger("orvane.skills.creator");
  return *logger;
}

}  // namespace orvane::skills
