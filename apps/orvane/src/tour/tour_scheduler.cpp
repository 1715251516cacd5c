// The scheduler's road: jobs of each kind, the loop firing the one that is due, and a restart.
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/loop.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "run_async.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

namespace asio = boost::asio;
namespace sched = orvane::scheduler;

constexpr const char* SECTION = "scheduler";
// The loop's first pass runs as soon as it starts, so a job due now fires at once; this only
// bounds a broken run.
constexpr double FIRE_TIMEOUT_SECONDS = 10;

struct Added {
  std::string cron, interval, once;
};

std::string expect(bool holds, const std::string& what) {
  if (!holds) throw CheckFailed(what);
  return what;
}

Added add_jobs(sched::Scheduler& scheduler) {
  const double now = sched::now_seconds();
  Added ids;
  ids.cron = scheduler
                 .add_job(sched::ScheduledJob{.name = "tour-morning-news",
                                              .job_type = sched::JobType::CRON,
                                              .schedule = "0 6 * * *",
                                              .prompt = "Summarize the morning news."})
                 ->id;
  ids.interval = scheduler
                     .add_job(sched::ScheduledJob{.name = "tour-hourly-check",
                                                  .job_type = sched::JobType::INTERVAL,
                                                  .interval_seconds = 3600,
                                                  .prompt = "Check the inbox."})
                     ->id;
  ids.once = scheduler
                 .add_job(sched::ScheduledJob{.name = "tour-once-now",
                                              .job_type = sched::JobType::ONCE,
                                              .prompt = "Say hello from the tour.",
                                              .next_run = now})
                 ->id;
  const auto cron = scheduler.get_job(ids.cron);
  const auto interval = scheduler.get_job(ids.interval);
  if (!(cron->next_run > now && cron->next_run <= now + 86400 + 3600)) {
    throw CheckFailed("the cron job's next run is not within a day");
  }
  if (!(interval->next_run >= now + 3599 && interval->next_run <= now + 3601 + 60)) {
    throw CheckFailed("the interval job's next run is not an hour away");
  }
  return ids;
}

}  // namespace

void scheduler_section(Tour& tour) {
  const auto path = tour.data_dir() / "scheduler.json";
  tour.say() << "\n== scheduler: " << path.string() << std::endl;

  std::vector<std::string> fired;  // job ids, in fire order
  std::vector<Json> completed;     // executions, as the events carried them
  host::Event once_done;
  Added ids;

  auto on_fire = [&](sched::ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    co_return "tour ran: " + job.prompt;
  };
  auto on_event = [&](Json event) -> asio::awaitable<void> {
    if (event["type"] == "scheduler_job_completed") {
      completed.push_back(event["execution"]);
      if (event["execution"]["job_id"] == ids.once) once_done.set();
    }
    co_return;
  };

  {
    sched::Scheduler scheduler(on_fire, on_event, path);
    if (!tour.check(SECTION, "add a cron, an interval and a one-shot job", [&] {
          ids = add_jobs(scheduler);
          for (const Json& job : scheduler.list_jobs()) {
            tour.say() << "    " << job["job_type"].get<std::string>() << " "
                       << job["name"].get<std::string>() << ", next run "
                       << job["next_run_human"].get<std::string>() << std::endl;
          }
          return expect(scheduler.list_jobs().size() == 3,
                        "3 jobs, cron next at 06:00, interval in an hour, one-shot now");
        })) {
      tour.skip(SECTION, "the loop fires the one-shot job", "the jobs were not added");
      tour.skip(SECTION, "the jobs survive a restart", "the jobs were not added");
      return;
    }

    tour.check(SECTION, "the loop fires the one-shot job", [&] {
      bool timed_out = false;
      const auto start = std::chrono::steady_clock::now();
      run_async([&]() -> asio::awaitable<void> {
        co_await scheduler.start();
        timed_out = co_await once_done.wait(FIRE_TIMEOUT_SECONDS);
        co_await scheduler.stop();
      });
      const double took =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (timed_out) throw CheckFailed("no firing within 10 s");
      for (const Json& run : scheduler.list_executions()) {
        tour.say() << "    execution: " << run["job_name"].get<std::string>() << " at "
                   << run["started_at_human"].get<std::string>() << ", "
                   << (run["success"].get<bool>() ? "ok" : "failed") << ": "
                   << run["result"].get<std::string>() << std::endl;
      }
      if (fired != std::vector<std::string>{ids.once}) {
        throw CheckFailed(std::to_string(fired.size()) + " firings, expected the one-shot only");
      }
      const Json& run = completed.at(0);
      if (!run["success"].get<bool>())
        throw CheckFailed("the firing failed: " + run["error"].dump());
      if (scheduler.get_job(ids.once)->state != sched::JobState::COMPLETED) {
        throw CheckFailed("the one-shot job is not completed after its run");
      }
      if (scheduler.running()) throw CheckFailed("the loop still runs after stop()");
      char text[64];
      std::snprintf(text, sizeof text, "fired once in %.3f s, job completed, loop stopped", took);
      return std::string(text);
    });
  }

  tour.check(SECTION, "the jobs survive a restart", [&] {
    sched::Scheduler restarted(nullptr, nullptr, path);
    const Json jobs = restarted.list_jobs();
    const auto once = restarted.get_job(ids.once);
    if (jobs.size() != 3 || !restarted.get_job(ids.cron) || !restarted.get_job(ids.interval) ||
        !once) {
      throw CheckFailed(std::to_string(jobs.size()) + " jobs read back from the state file");
    }
    if (once->state != sched::JobState::COMPLETED || once->run_count != 1) {
      throw CheckFailed("the one-shot job was read back as " +
                        std::string(sched::to_string(once->state)) + " with " +
                        std::to_string(once->run_count) + " runs");
    }
    const Json stats = restarted.stats();
    if (stats["total_executions"] != 1) {
      throw CheckFailed("total_executions is " + stats["total_executions"].dump() + ", not 1");
    }
    tour.say() << "    after restart: " << jobs.size() << " jobs, the one-shot job completed"
               << std::endl;
    return std::string("3 jobs read back from scheduler.json, the one-shot job completed once");
  });
}

}  // namespace orvane::app::tour
