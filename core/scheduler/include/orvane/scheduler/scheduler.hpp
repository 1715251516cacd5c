#pragma once
// Persistent cron-based task scheduler: a registry of jobs kept in a JSON state file, and a loop
// on the host's event loop that fires due jobs through the host's callbacks.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/awaitable.hpp>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "orvane/host/loop.hpp"
#include "orvane/scheduler/cron.hpp"
#include "orvane/scheduler/error.hpp"
#include "orvane/scheduler/job.hpp"

namespace orvane::scheduler {

// Runs a due job (the registered object itself) and returns the text of its result; throws to
// report a failure.
using JobFireCallback = std::function<boost::asio::awaitable<std::string>(ScheduledJob&)>;
// Receives "scheduler_job_fired" and "scheduler_job_completed" events.
using JobEventCallback = std::function<boost::asio::awaitable<void>(nlohmann::ordered_json)>;

class Scheduler {
 public:
  // Loads the state file: `storage_path`, or scheduler.json in the host's data directory.
  explicit Scheduler(JobFireCallback on_fire = nullptr, JobEventCallback on_event = nullptr,
                     std::optional<std::filesystem::path> storage_path = std::nullopt);
  // Cancels the loop task; firings under way finish on their own.
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // True while the loop task exists and has not finished.
  bool running() const;

  // Registers the job itself (replacing a job with the same id in its place), computes its next
  // run and saves. Returns the registered object. Metadata nested deeper than the state file can
  // hold (509 levels) throws InvalidValueError, and nothing is registered.
  std::shared_ptr<ScheduledJob> add_job(std::shared_ptr<ScheduledJob> job);
  std::shared_ptr<ScheduledJob> add_job(ScheduledJob job);
  // Sets the fields named in `updates` (other names are skipped) and saves; null when the id is
  // not registered. A value of the wrong kind, a time that is not finite, metadata nested too
  // deep, or an "id" member, throws InvalidValueError and leaves the job unchanged.
  std::shared_ptr<ScheduledJob> update_job(const std::string& job_id,
                                           const nlohmann::ordered_json& updates);
  bool remove_job(const std::string& job_id);
  bool pause_job(const std::string& job_id);
  bool resume_job(const std::string& job_id);
  std::shared_ptr<ScheduledJob> get_job(const std::string& job_id) const;

  // Dictionary forms sorted by next run, unscheduled jobs last.
  nlohmann::ordered_json list_jobs() const;
  // The last `limit` executions (0: all; -k: all after the first k), oldest first; `job_id`
  // empty or absent: every job.
  nlohmann::ordered_json list_executions(std::int64_t limit = 50,
                                         const std::optional<std::string>& job_id = {}) const;
  nlohmann::ordered_json stats() const;

  const std::filesystem::path& storage_path() const;

  // Starts the loop task "scheduler" on the calling coroutine's executor; no-op when running.
  boost::asio::awaitable<void> start();
  // Stops the loop task and waits for its end; firings under way are left to finish.
  boost::asio::awaitable<void> stop();

  // Everything the loop and the firing tasks share; it lives as long as the longest of them.
  struct State;

 private:
  std::shared_ptr<State> _state;
  host::TaskPtr _task;
};

}  // namespace orvane::scheduler
