// The loop task and the firing tasks.
#include <boost/asio/this_coro.hpp>
#include <boost/system/system_error.hpp>
#include <utility>
#include <vector>

#include "orvane/host/log.hpp"
#include "state.hpp"

namespace orvane::scheduler {
namespace {

using json = nlohmann::ordered_json;
using State = Scheduler::State;

// True when the next firing of `job` is the last one its max_runs allows (run_count + 1 >=
// max_runs, without the sum that a stored count of INT64_MAX would overflow).
bool is_last_allowed_run(const ScheduledJob& job) {
  return job.max_runs > 0 && job.run_count >= job.max_runs - 1;
}

// Counts a firing of `job` as under way for as long as the firing task's frame lives.
class FiringMark {
 public:
  FiringMark(std::shared_ptr<State> state, const ScheduledJob* job)
      : _state(std::move(state)), _job(job) {
    ++_state->_firing[_job];
  }
  FiringMark(FiringMark&& other) noexcept : _state(std::move(other._state)), _job(other._job) {}
  FiringMark(const FiringMark&) = delete;
  FiringMark& operator=(const FiringMark&) = delete;
  FiringMark& operator=(FiringMark&&) = delete;
  ~FiringMark() {
    if (!_state) return;
    const auto it = _state->_firing.find(_job);
    if (--it->second == 0) _state->_firing.erase(it);
  }

 private:
  std::shared_ptr<State> _state;
  const ScheduledJob* _job;
};

boost::asio::awaitable<void> fire_job(std::shared_ptr<State> state,
                                      std::shared_ptr<ScheduledJob> job,
                                      [[maybe_unused]] FiringMark mark) {
  auto& log = *state->_log;
  log.info("{}", "Firing job: " + job->name + " (" + job->id + ")");
  JobExecution execution(job->id, job->name, host::clock().time());

  if (state->_on_event) {
    json event = json::object();
    event["type"] = "scheduler_job_fired";
    event["job"] = job->to_dict();
    co_await state->_on_event(std::move(event));
  }

  std::exception_ptr cancelled;
  try {
    std::string result;
    if (state->_on_fire) result = co_await state->_on_fire(*job);
    execution.success = true;
    execution.result = result.empty() ? "Completed" : std::move(result);
  } catch (const std::exception& error) {
    if (host::is_cancellation(error)) {
      cancelled = std::current_exception();
    } else {
      execution.success = false;
      execution.error = error.what();
      host::log_exception(log, "Job " + job->id + " failed: " + error.what(), error);
    }
  } catch (...) {
    execution.success = false;
    execution.error = "unknown error";
    host::log_exception(log, "Job " + job->id + " failed: unknown error", std::current_exception());
  }
  if (cancelled) {
    // operation_aborted from the callback's own work (a closed socket, a cancelled timer) is a
    // failure of the job, not a cancellation of this task.
    const auto cancellation = co_await boost::asio::this_coro::cancellation_state;
    if (cancellation.cancelled() == boost::asio::cancellation_type::none) {
      try {
        std::rethrow_exception(std::exchange(cancelled, nullptr));
      } catch (const std::exception& error) {
        execution.error = error.what();
        host::log_exception(log, "Job " + job->id + " failed: " + error.what(), error);
      }
    } else {
      // The closing steps await the event callback, which a pending cancellation would abort.
      co_await boost::asio::this_coro::reset_cancellation_state();
    }
  }

  execution.completed_at = host::clock().time();
  execution.duration = execution.completed_at - execution.started_at;
  job->last_run = execution.started_at;
  job->run_count = saturating_add(job->run_count, 1);
  if ((job->max_runs > 0 && job->run_count >= job->max_runs) || job->job_type == JobType::ONCE) {
    job->state = JobState::COMPLETED;
    job->next_run = 0;
  } else {
    job->next_run = state->_calc_next_run(*job);
  }
  auto completed = execution.to_dict();
  state->_record(std::move(execution));
  state->_save();

  if (state->_on_event) {
    json event = json::object();
    event["type"] = "scheduler_job_completed";
    event["execution"] = std::move(completed);
    co_await state->_on_event(std::move(event));
  }
  if (cancelled) std::rethrow_exception(cancelled);
}

// One pass: fires every active job that is due. The due jobs are taken first, in registry order,
// into a list that shares their ownership; whatever the registry goes through while they are
// started (a host callback removing or adding jobs), each one stays valid and the pass fires
// exactly the jobs that were due when it began.
void pass(const std::shared_ptr<State>& state, const boost::asio::any_io_executor& executor) {
  const double now = host::clock().time();
  std::vector<std::shared_ptr<ScheduledJob>> due;
  for (const auto& entry : state->_jobs.entries()) {
    const auto& job = entry.job;
    if (job->state != JobState::ACTIVE) continue;
    if (job->next_run == 0 || !(now >= job->next_run)) continue;
    // An interval job keeps its due time until its firing ends; firing it again meanwhile would
    // run the same period twice.
    if (job->job_type == JobType::INTERVAL && state->_firing.contains(job.get())) continue;
    due.push_back(job);
  }
  for (const auto& job : due) {
    if (is_last_allowed_run(*job) || job->job_type == JobType::ONCE) {
      job->next_run = 0;
    } else {
      job->next_run = state->_calc_next_run(*job);
    }
    host::spawn(executor, "job-" + job->id, fire_job(state, job, FiringMark(state, job.get())));
  }
}

}  // namespace

boost::asio::awaitable<void> _fire_job(std::shared_ptr<State> state,
                                       std::shared_ptr<ScheduledJob> job) {
  FiringMark mark(state, job.get());
  co_await fire_job(std::move(state), std::move(job), std::move(mark));
}

boost::asio::awaitable<void> run_loop(std::shared_ptr<State> state) {
  try {
    const auto executor = co_await host::current_executor();
    while (!state->_stop_event.is_set()) {
      pass(state, executor);
      co_await state->_stop_event.wait(State::PASS_SECONDS);
      // stop() sets the event and then cancels: the wait ends normally, but the task was
      // cancelled all the same.
      const auto cancellation = co_await boost::asio::this_coro::cancellation_state;
      if (cancellation.cancelled() != boost::asio::cancellation_type::none) host::throw_cancelled();
    }
  } catch (const boost::system::system_error& error) {
    if (!host::is_cancellation(error)) throw;
    state->_log->debug("Scheduler loop cancelled");
  }
}

boost::asio::awaitable<void> Scheduler::start() {
  if (running()) co_return;
  _state->_stop_event.clear();
  _task = host::spawn(co_await host::current_executor(), "scheduler", run_loop(_state));
  _state->_log->info("{}",
                     "Scheduler started with " + std::to_string(_state->_jobs.size()) + " jobs");
}

boost::asio::awaitable<void> Scheduler::stop() {
  _state->_stop_event.set();
  // A local reference: a second stop() waiting at the same time may drop _task first, and the
  // task object must outlive this wait.
  const auto task = _task;
  if (task && !task->done()) {
    task->cancel();
    try {
      co_await task->wait();
    } catch (const std::exception& error) {
      if (!host::is_cancellation(error)) throw;
    }
  }
  // A start() made during the wait owns a new loop task, which must stay reachable.
  if (_task == task) _task.reset();
  _state->_log->info("Scheduler stopped");
}

}  // namespace orvane::scheduler
