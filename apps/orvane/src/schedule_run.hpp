#pragma once
// `orvane schedule run`: the scheduler loop in the foreground until SIGINT or SIGTERM.
#include <filesystem>

namespace orvane::app {

// Runs the loop on the state file in `data_dir`, printing each event (as JSON lines when `json`).
void run_scheduler(const std::filesystem::path& data_dir, bool json);

}  // namespace orvane::app
