#pragma once
// The scheduler's shared state: registry, history, callbacks and the state file.
#include <spdlog/spdlog.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "orvane/host/loop.hpp"
#include "orvane/scheduler/scheduler.hpp"

namespace orvane::scheduler {

// Jobs by id in insertion order; a job stored under a present id takes the old one's place.
class JobRegistry {
 public:
  struct Entry {
    std::string id;
    std::shared_ptr<ScheduledJob> job;
  };

  std::shared_ptr<ScheduledJob> find(const std::string& id) const;
  void put(const std::string& id, std::shared_ptr<ScheduledJob> job);
  bool erase(const std::string& id);
  std::size_t size() const { return _entries.size(); }
  const std::vector<Entry>& entries() const { return _entries; }

 private:
  std::vector<Entry> _entries;
  std::unordered_map<std::string, std::size_t> _index;
};

struct Scheduler::State {
  static constexpr std::size_t HISTORY_LIMIT = 500;  // above this, keep the latest 250
  static constexpr std::size_t HISTORY_KEPT = 250;
  static constexpr std::size_t STORED_EXECUTIONS = 100;
  static constexpr double PASS_SECONDS = 30.0;

  JobFireCallback _on_fire;
  JobEventCallback _on_event;
  std::filesystem::path _storage_path;
  JobRegistry _jobs;
  std::vector<JobExecution> _executions;
  host::Event _stop_event;
  // Firings under way per job; an interval job is not fired again while one runs.
  std::unordered_map<const ScheduledJob*, int> _firing;
  std::shared_ptr<spdlog::logger> _log;

  // Next run in seconds since the epoch, or 0 when the job cannot be scheduled.
  double _calc_next_run(const ScheduledJob& job) const;
  void _record(JobExecution execution);

  // state_file.cpp
  void _save() const;
  void _load();
  void _set_aside();
};

// a + b, held at the ends of the range instead of overflowing: stored counts may hold any value.
inline std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max()
               : std::numeric_limits<std::int64_t>::min();
}

// Reads a naive local date-time as local time, as mktime does.
double to_epoch_seconds(LocalTime time);

// The body of a firing task of `job`; the loop starts one per due job.
boost::asio::awaitable<void> _fire_job(std::shared_ptr<Scheduler::State> state,
                                       std::shared_ptr<ScheduledJob> job);

boost::asio::awaitable<void> run_loop(std::shared_ptr<Scheduler::State> state);

}  // namespace orvane::scheduler
