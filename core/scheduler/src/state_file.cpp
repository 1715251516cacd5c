// The state file: every job in its stored form and the latest executions.
#include <cmath>
#include <system_error>
#include <utility>

#include "orvane/common/file_io.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/json_text.hpp"
#include "orvane/common/json_utf8.hpp"
#include "orvane/common/set_aside.hpp"
#include "orvane/host/clock.hpp"
#include "state.hpp"
#include "text.hpp"

namespace orvane::scheduler {
namespace {

using json = nlohmann::ordered_json;

// The dictionary form with the whole prompt and the metadata, so that a restart runs exactly the
// job that was scheduled. What the host may have put into the job itself and the file could not
// hold is left out with an error: a time that is not finite (JSON has no NaN or infinity) is
// stored as 0, metadata nested too deep to read back as {}.
json stored_form(const ScheduledJob& job, spdlog::logger& log) {
  json d = job.to_dict();
  d["prompt"] = valid_utf8(job.prompt);
  const std::pair<const char*, double> times[] = {
      {"created_at", job.created_at}, {"last_run", job.last_run}, {"next_run", job.next_run}};
  for (const auto& [field, value] : times) {
    if (std::isfinite(value)) continue;
    log.error("{}", "Job " + job.id + ": " + field + " is not a finite number; saved as 0");
    d[field] = 0.0;
  }
  if (!std::isfinite(job.next_run)) d["next_run_human"] = next_run_human(0);
  if (!std::isfinite(job.last_run)) d["last_run_human"] = last_run_human(0);
  if (common::nests_deeper_than(job.metadata, METADATA_DEPTH)) {
    log.error("{}", "Job " + job.id + ": metadata nests more than " +
                        std::to_string(METADATA_DEPTH) + " levels deep; saved as {}");
    d["metadata"] = json::object();
  } else {
    d["metadata"] = common::valid_utf8_json(job.metadata);
  }
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
      members.emplace_back(valid_utf8(entry.id), stored_form(*entry.job, *_log));

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
    // Python's json module writes (and reads) NaN and the infinities as bare tokens, so files
    // written elsewhere may hold them.
    const json data = common::parse_python_json(common::read_file(_storage_path));
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
