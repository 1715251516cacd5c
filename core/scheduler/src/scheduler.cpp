#include "orvane/scheduler/scheduler.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "orvane/common/py_text.hpp"
#include "orvane/host/config.hpp"
#include "orvane/host/log.hpp"
#include "state.hpp"
#include "text.hpp"

namespace orvane::scheduler {

using json = nlohmann::ordered_json;

std::shared_ptr<ScheduledJob> JobRegistry::find(const std::string& id) const {
  const auto it = _index.find(id);
  return it == _index.end() ? nullptr : _entries[it->second].job;
}

void JobRegistry::put(const std::string& id, std::shared_ptr<ScheduledJob> job) {
  const auto [it, added] = _index.emplace(id, _entries.size());
  if (added) {
    _entries.push_back({id, std::move(job)});
  } else {
    _entries[it->second].job = std::move(job);
  }
}

bool JobRegistry::erase(const std::string& id) {
  const auto it = _index.find(id);
  if (it == _index.end()) return false;
  const auto position = it->second;
  _index.erase(it);
  _entries.erase(_entries.begin() + static_cast<std::ptrdiff_t>(position));
  for (auto i = position; i < _entries.size(); ++i) _index[_entries[i].id] = i;
  return true;
}

double Scheduler::State::_calc_next_run(const ScheduledJob& job) const {
  const auto now = host::clock().local_now();
  switch (job.job_type) {
    case JobType::CRON:
      try {
        return to_epoch_seconds(CronExpression(job.schedule).next_occurrence(now));
      } catch (const InvalidValueError& error) {
        _log->error("{}", "Invalid cron expression for job " + job.id + ": " + error.what());
        return 0;
      }
    case JobType::INTERVAL:
      if (job.interval_seconds <= 0) return 0;
      if (job.last_run != 0) return job.last_run + double(job.interval_seconds);
      return host::clock().time() + double(job.interval_seconds);
    case JobType::ONCE:
      return job.next_run;
  }
  return 0;
}

void Scheduler::State::_record(JobExecution execution) {
  _executions.push_back(std::move(execution));
  if (_executions.size() > HISTORY_LIMIT) {
    _executions.erase(_executions.begin(),
                      _executions.end() - static_cast<std::ptrdiff_t>(HISTORY_KEPT));
  }
}

Scheduler::Scheduler(JobFireCallback on_fire, JobEventCallback on_event,
                     std::optional<std::filesystem::path> storage_path)
    : _state(std::make_shared<State>()) {
  _state->_on_fire = std::move(on_fire);
  _state->_on_event = std::move(on_event);
  _state->_storage_path =
      storage_path ? std::move(*storage_path) : host::orvane_dir() / "scheduler.json";
  _state->_log = host::get_logger("orvane.scheduler");
  _state->_load();
}

Scheduler::~Scheduler() {
  if (_task && !_task->done()) _task->cancel();
}

bool Scheduler::running() const {
  return _task && !_task->done();
}

const std::filesystem::path& Scheduler::storage_path() const {
  return _state->_storage_path;
}

std::shared_ptr<ScheduledJob> Scheduler::add_job(ScheduledJob job) {
  return add_job(std::make_shared<ScheduledJob>(std::move(job)));
}

namespace {

// JSON has no NaN or infinity: a time that is not finite would make the state file unreadable.
void check_times_finite(const json& updates) {
  for (const char* field : {"created_at", "last_run", "next_run"}) {
    const auto it = updates.find(field);
    if (it == updates.end() || !it->is_number_float()) continue;
    const double value = it->get<double>();
    if (!std::isfinite(value)) {
      throw InvalidValueError(std::string("Invalid value for ") + field +
                              ": expected a finite number, got " + common::py_repr(value));
    }
  }
}

}  // namespace

std::shared_ptr<ScheduledJob> Scheduler::add_job(std::shared_ptr<ScheduledJob> job) {
  if (!job) throw InvalidValueError("add_job needs a job");
  check_metadata_depth(job->metadata);
  job->next_run = _state->_calc_next_run(*job);
  _state->_jobs.put(job->id, job);
  _state->_save();
  _state->_log->info("{}", "Job added: " + job->name + " (" + job->id +
                               ") \u2014 next run: " + _format_timestamp(job->next_run));
  return job;
}

std::shared_ptr<ScheduledJob> Scheduler::update_job(const std::string& job_id,
                                                    const json& updates) {
  auto job = _state->_jobs.find(job_id);
  if (!job) return nullptr;
  if (!updates.is_object()) {
    throw InvalidValueError(std::string("Job updates must be a JSON object, got ") +
                            updates.type_name());
  }
  // The registry key and the stored id must stay the same.
  if (updates.contains("id")) throw InvalidValueError("The id of a job cannot be changed");
  check_times_finite(updates);
  // Checked on a copy first so that a bad value leaves the job as it was. The copy leaves out
  // the metadata, which the host may have nested too deep to copy by writing to the job itself.
  json metadata = std::exchange(job->metadata, json::object());
  ScheduledJob updated = *job;
  job->metadata = std::move(metadata);
  for (const auto& [key, value] : updates.items()) updated._set_field(key, value);
  if (!updates.contains("metadata")) updated.metadata = std::move(job->metadata);
  *job = std::move(updated);
  if (updates.contains("schedule") || updates.contains("interval_seconds")) {
    job->next_run = _state->_calc_next_run(*job);
  }
  _state->_save();
  return job;
}

bool Scheduler::remove_job(const std::string& job_id) {
  if (!_state->_jobs.erase(job_id)) return false;
  _state->_save();
  _state->_log->info("{}", "Job removed: " + job_id);
  return true;
}

bool Scheduler::pause_job(const std::string& job_id) {
  const auto job = _state->_jobs.find(job_id);
  if (!job) return false;
  job->state = JobState::PAUSED;
  _state->_save();
  return true;
}

bool Scheduler::resume_job(const std::string& job_id) {
  const auto job = _state->_jobs.find(job_id);
  if (!job) return false;
  job->state = JobState::ACTIVE;
  job->next_run = _state->_calc_next_run(*job);
  _state->_save();
  return true;
}

std::shared_ptr<ScheduledJob> Scheduler::get_job(const std::string& job_id) const {
  return _state->_jobs.find(job_id);
}

json Scheduler::list_jobs() const {
  std::vector<const ScheduledJob*> jobs;
  for (const auto& entry : _state->_jobs.entries()) jobs.push_back(entry.job.get());
  const auto key = [](const ScheduledJob* job) {
    const double t = job->next_run;
    return t == 0 || std::isnan(t) ? std::numeric_limits<double>::infinity() : t;
  };
  std::stable_sort(jobs.begin(), jobs.end(),
                   [&](const ScheduledJob* a, const ScheduledJob* b) { return key(a) < key(b); });
  json list = json::array();
  for (const auto* job : jobs) list.push_back(job->to_dict());
  return list;
}

json Scheduler::list_executions(std::int64_t limit,
                                const std::optional<std::string>& job_id) const {
  std::vector<const JobExecution*> selected;
  for (const auto& execution : _state->_executions) {
    if (!job_id || job_id->empty() || execution.job_id == *job_id) selected.push_back(&execution);
  }
  // The slice [-limit:]: the last `limit` entries, every entry for 0, all after the first k for -k.
  const auto n = static_cast<std::int64_t>(selected.size());
  const auto start = limit > 0 ? std::max<std::int64_t>(0, n - limit) : (limit < -n ? n : -limit);
  json list = json::array();
  for (auto i = start; i < n; ++i) list.push_back(selected[static_cast<std::size_t>(i)]->to_dict());
  return list;
}

json Scheduler::stats() const {
  std::int64_t active = 0, paused = 0, runs = 0;
  for (const auto& entry : _state->_jobs.entries()) {
    active += entry.job->state == JobState::ACTIVE;
    paused += entry.job->state == JobState::PAUSED;
    runs = saturating_add(runs, entry.job->run_count);
  }
  json stats = json::object();
  stats["running"] = running();
  stats["total_jobs"] = _state->_jobs.size();
  stats["active_jobs"] = active;
  stats["paused_jobs"] = paused;
  stats["total_executions"] = runs;
  stats["recent_executions"] = _state->_executions.size();
  return stats;
}

}  // namespace orvane::scheduler
