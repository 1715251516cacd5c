// The state file: every job in its stored form and the latest executions.
#include <system_error>

#include "orvane/common/file_io.hpp"
#include "orvane/common/json_text.hpp"
#include "orvane/common/set_aside.hpp"
#include "orvane/host/clock.hpp"
#include "state.hpp"
#include "text.hpp"

namespace orvane::scheduler {
namespace {

using json = nlohmann::ordered_json;

// The dictionary form with the whole prompt and the metadata, so that a restart runs exactly the
// job that was scheduled.
json stored_form(const ScheduledJob& job) {
  json d = job.to_dict();
  d["prompt"] = valid_utf8(job.prompt);
  d["metadata"] = valid_utf8_json(job.metadata);
  return d;
}

}  // namespace

void Scheduler::State::_save() const {
  try {
    json jobs = json::object();
    // Registry ids are unique, so members are appended without ordered_map's linear key search.
    auto& members = static_cast<json::object_t::Container&>(jobs.get_ref<json::object_t&>());
    members.reserve(_jobs.size());
    for (const auto& entry : _jobs.entries())
      members.emplace_back(valid_utf8(entry.id), stored_form(*entry.job));

    json executions = json::array();
    const auto first = _executions.size() > STORED_EXECUTIONS
                           ? _executions.end() - static_cast<std::ptrdiff_t>(STORED_EXECUTIONS)
                           : _executions.begin();
    for (auto it = first; it != _executions.end(); ++it) executions.push_back(it->to_dict());

    json root = json::object();
    root["jobs"] = std::move(jobs);
    root["executions"] = std::move(executions);
    common::write_file_atomic(_storage_path, common::dump_python_json(root, 2));
  } catch (const std::exception& error) {
    _log->error("{}", std::string("Failed to save scheduler state: ") + error.what());
  }
}

void Scheduler::State::_load() {
  std::error_code missing;
  if (!std::filesystem::exists(_storage_path, missing)) return;
  try {
    const json data = json::parse(common::read_file(_storage_path));
    if (!data.is_object()) {
      throw InvalidValueError(std::string("The state file holds ") + data.type_name() +
                              ", not an object");
    }
    const auto jobs = data.find("jobs");
    if (jobs != data.end()) {
      if (!jobs->is_object()) {
        throw InvalidValueError(std::string("The member jobs is ") + jobs->type_name() +
                                ", not an object");
      }
      for (const auto& [key, value] : jobs->items()) {
        auto job = std::make_shared<ScheduledJob>(ScheduledJob::from_dict(value));
        const auto id = job->id;
        _jobs.put(id, std::move(job));
      }
    }
    _log->info("{}", "Loaded " + std::to_string(_jobs.size()) + " scheduled jobs");
  } catch (const std::exception& error) {
    _log->error("{}", std::string("Failed to load scheduler state: ") + error.what());
    _set_aside();
  }
}

// Moves a state file that could not be read (fully) out of the way, so that the next save, which
// holds only the jobs read so far, does not destroy the others.
void Scheduler::State::_set_aside() {
  try {
    const auto target = common::set_aside(_storage_path, host::clock().local_now());
    _log->warn("{}", "Unreadable scheduler state set aside as " + target.string());
  } catch (const std::filesystem::filesystem_error& error) {
    _log->error("{}", "Failed to set aside scheduler state: " + error.code().message());
  }
}

}  // namespace orvane::scheduler
