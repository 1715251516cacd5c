#pragma once
#include <spdlog/spdlog.h>

namespace orvane::skills {

// The "orvane.skills.creator" channel.
spdlog::logger& creator_log();

}  // namespace orvane::skills
