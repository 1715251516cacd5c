#include "scheduler_state.hpp"

#include <iostream>
#include <set>
#include <system_error>

#include "execution_history.hpp"
#include "json_input.hpp"
#include "orvane/common/json_read.hpp"
#include "terminal_text.hpp"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

// The copies the scheduler has set aside: "<state file>.corrupt-<time>[.<n>]".
std::set<fs::path> set_aside_copies(const fs::path& state) {
  std::set<fs::path> copies;
  const std::string prefix = state.filename().string() + ".corrupt-";
  std::error_code error;
  for (fs::directory_iterator it(state.parent_path(), error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().filename().string().starts_with(prefix)) copies.insert(it->path());
  }
  return copies;
}

}  // namespace

fs::path state_file(const fs::path& data_dir) {
  return data_dir / "scheduler.json";
}

std::unique_ptr<scheduler::Scheduler> open_scheduler(const fs::path& data_dir,
                                                     scheduler::JobFireCallback on_fire,
                                                     scheduler::JobEventCallback on_event) {
  const fs::path state = state_file(data_dir);
  std::error_code error;
  const bool existed = fs::exists(fs::symlink_status(state, error));
  const auto copies_before = existed ? set_aside_copies(state) : std::set<fs::path>();
  auto loaded =
      std::make_unique<scheduler::Scheduler>(std::move(on_fire), std::move(on_event), state);
  if (existed && !fs::exists(fs::symlink_status(state, error))) {
    for (const auto& copy : set_aside_copies(state)) {
      if (copies_before.contains(copy)) continue;
      std::cout.flush();
      std::cerr << "orvane: warning: " << terminal_safe(state.string())
                << " could not be read; it was set aside as " << terminal_safe(copy.string())
                << " and the schedule starts with no jobs\n";
    }
  }
  return loaded;
}

std::unique_ptr<scheduler::Scheduler> open_scheduler_to_save(const SchedulerLock&,
                                                             const fs::path& data_dir,
                                                             scheduler::JobFireCallback on_fire,
                                                             scheduler::JobEventCallback on_event) {
  ExecutionHistory(data_dir).adopt(saved_executions(data_dir));
  return open_scheduler(data_dir, std::move(on_fire), std::move(on_event));
}

Json saved_executions(const fs::path& data_dir) {
  Json runs = Json::array();
  const fs::path path = state_file(data_dir);
  std::error_code error;
  if (!fs::exists(path, error)) return runs;
  Json state;
  try {
    // Read as the scheduler reads it: Python's NaN and Infinity included.
    state = common::parse_python_json(read_input_file(path));
  } catch (const std::exception&) {
    return runs;  // see above
  }
  if (!state.is_object() || !state.contains("executions") || !state["executions"].is_array()) {
    return runs;
  }
  for (Json& run : state["executions"]) {
    if (run.is_object()) runs.push_back(std::move(run));
  }
  return runs;
}

}  // namespace orvane::app
