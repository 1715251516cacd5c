// A week of a busy scheduler on the virtual clock, checked against a plain model of the firing
// rules. ORVANE_SOAK_JOBS and ORVANE_SOAK_DAYS make it bigger or longer.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <queue>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "orvane/common/json_text.hpp"
#include "orvane/host/loop.hpp"
#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using namespace std::chrono;

int env_int(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

std::uint64_t mix(std::uint64_t x) {  // splitmix64
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// The calendar fields of a UTC minute, as a cron schedule sees them.
struct Minute {
  int minute, hour, day, month, weekday;  // weekday 0 = Sunday
};

Minute minute_of(double t) {
  const sys_seconds s{seconds{static_cast<std::int64_t>(std::floor(t))}};
  const auto day = floor<days>(s);
  const year_month_day date{day};
  const hh_mm_ss time{s - day};
  return {int(time.minutes().count()), int(time.hours().count()), int(unsigned(date.day())),
          int(unsigned(date.month())), int(weekday{day}.c_encoding())};
}

// Schedules with their meaning written out by hand, so that the model does not share the parser.
struct CronCase {
  const char* schedule;
  std::function<bool(const Minute&)> matches;
};

const std::vector<CronCase> SPARSE_CRON = {
    {"0 0 * * 0", [](const Minute& m) { return m.minute == 0 && m.hour == 0 && m.weekday == 0; }},
    {"30 6 * * 3", [](const Minute& m) { return m.minute == 30 && m.hour == 6 && m.weekday == 3; }},
    {"15 12 1 * *", [](const Minute& m) { return m.minute == 15 && m.hour == 12 && m.day == 1; }},
    {"45 23 * * 6,0",
     [](const Minute& m) { return m.minute == 45 && m.hour == 23 && m.weekday % 6 == 0; }},
    {"0 9 * 3 1",
     [](const Minute& m) {
       return m.minute == 0 && m.hour == 9 && m.month == 3 && m.weekday == 1;
     }},
    {"*/20 14 * * 2",
     [](const Minute& m) { return m.minute % 20 == 0 && m.hour == 14 && m.weekday == 2; }},
};
// Fires every six hours.
const CronCase BUSY_CRON = {"0 */6 * * *",
                            [](const Minute& m) { return m.minute == 0 && m.hour % 6 == 0; }};
// Every five minutes for an hour on two days, with firings that run 7 min 10 s and so overlap.
const CronCase SLOW_CRON = {"*/5 9 * * 1,4", [](const Minute& m) {
                              return m.minute % 5 == 0 && m.hour == 9 && m.weekday % 3 == 1;
                            }};

// How one firing goes. Durations are never a multiple of 30 s, so that no firing ends at the
// instant of a loop pass or of a cron minute, where the order of two wake-ups would decide.
struct Firing {
  enum Kind { OK, FAIL, CANCEL } kind = OK;
  double seconds = 0;  // how long the callback runs, or when the host cancels it
};

struct Plan {
  std::string id;
  JobType type = JobType::CRON;
  const CronCase* cron = nullptr;  // null for a cron job whose schedule never yields a time
  std::int64_t interval = 0;
  double slow = 0;  // the callback's time when it is slower than the job's period
  std::uint64_t seed = 0;

  Firing run(std::int64_t n) const {
    const auto h = mix(seed + std::uint64_t(n) * 7919);
    const auto roll = h % 100;
    if (roll < 10) return {Firing::FAIL, slow > 0 ? slow : (h >> 8) % 2 ? 7.0 : 0.0};
    if (roll < 15) return {Firing::CANCEL, slow > 0 ? 200.0 : 40.0};
    return {Firing::OK, slow > 0 ? slow : (h >> 8) % 3 ? 0.0 : 7.0};
  }
};

// The firing rules for one job, followed event by event. Jobs do not affect one another, so each
// is followed alone over the pass times the real loop makes.
struct Model {
  Plan plan;
  JobState state = JobState::ACTIVE;
  double next_run = 0, last_run = 0;
  std::int64_t run_count = 0, max_runs = 0, started = 0;
  int in_flight = 0;
  // Ends pending: (end time, start time, run number).
  std::priority_queue<std::tuple<double, double, std::int64_t>,
                      std::vector<std::tuple<double, double, std::int64_t>>, std::greater<>>
      ends;
  std::vector<std::pair<double, Firing>> finished;  // (start, how it went), in end order

  double next_cron_after(double t) const {
    if (!plan.cron) return 0;
    double m = std::floor(t / 60) * 60 + 60;
    for (int i = 0; i < 60 * 24 * 60; ++i, m += 60)
      if (plan.cron->matches(minute_of(m))) return m;
    throw std::logic_error("no cron minute within 60 days");
  }
  double calc_next_run(double now) const {
    switch (plan.type) {
      case JobType::CRON:
        return next_cron_after(now);
      case JobType::INTERVAL:
        return plan.interval <= 0 ? 0 : (last_run != 0 ? last_run : now) + double(plan.interval);
      case JobType::ONCE:
        return next_run;
    }
    return 0;
  }
  bool limited_out(std::int64_t count) const { return max_runs > 0 && count >= max_runs; }

  // Firings that end before `t` (or at it, when `inclusive`) have their closing steps run.
  void end_until(double t, bool inclusive) {
    while (!ends.empty() &&
           (std::get<0>(ends.top()) < t || (inclusive && std::get<0>(ends.top()) == t))) {
      const auto [end, start, n] = ends.top();
      ends.pop();
      --in_flight;
      last_run = start;
      ++run_count;
      if (limited_out(run_count) || plan.type == JobType::ONCE) {
        state = JobState::COMPLETED;
        next_run = 0;
      } else {
        next_run = calc_next_run(end);
      }
      finished.emplace_back(start, plan.run(n));
    }
  }

  void pass(double p) {
    end_until(p, false);
    if (state != JobState::ACTIVE || next_run == 0 || p < next_run) return;
    if (plan.type == JobType::INTERVAL && in_flight > 0) return;
    next_run = limited_out(run_count + 1) || plan.type == JobType::ONCE ? 0 : calc_next_run(p);
    const auto n = started++;
    ends.emplace(p + plan.run(n).seconds, p, n);
    ++in_flight;
    end_until(p, true);  // a callback that does not wait ends within the pass
  }
};

std::int64_t history_size(std::int64_t executions) {
  return executions <= 500 ? executions : 250 + (executions - 501) % 251;
}

asio::awaitable<void> cancel_after(host::TaskPtr task, double seconds) {
  co_await host::sleep(seconds);
  task->cancel();
}

class Soak : public SchedulerTest {};

TEST_F(Soak, AWeekOfAThousandMixedJobsMatchesTheFiringRules) {
  const auto wall_start = steady_clock::now();
  const int job_count = env_int("ORVANE_SOAK_JOBS", 1000);
  const double end_time = START + 86400.0 * env_int("ORVANE_SOAK_DAYS", 7);
  const std::uint64_t seed = mix(std::uint64_t(env_int("ORVANE_SOAK_SEED", 11)));

  // The job mix: mostly sparse jobs, as a user's list grows, and a few busy and slow ones.
  std::vector<Model> models;
  json stored = json::object();
  for (int i = 0; i < job_count; ++i) {
    const auto h = mix(seed ^ std::uint64_t(i));
    Model model;
    Plan& plan = model.plan;
    plan.id = "job" + std::to_string(i);
    plan.seed = h;
    ScheduledJob job{.id = plan.id, .name = "soak " + std::to_string(i), .prompt = "p"};
    const auto kind = i < 4 ? 100 + i : int(h % 100);
    const auto pick = h >> 32;
    if (kind == 100 || kind == 101) {
      plan.cron = &SLOW_CRON;
      plan.slow = 430;
    } else if (kind == 102) {
      plan.cron = &BUSY_CRON;
    } else if (kind == 103) {
      plan.type = JobType::INTERVAL;
      plan.interval = 3 * 3600;
      plan.slow = 3 * 3600 + 15;
    } else if (kind < 45) {  // one-shot jobs over the coming month, a few already due
      plan.type = JobType::ONCE;
      job.next_run = START + double(std::int64_t(pick % (31 * 86400)) - 86400) + 0.25;
    } else if (kind < 65) {
      plan.cron = &SPARSE_CRON[pick % SPARSE_CRON.size()];
    } else if (kind < 85) {
      plan.type = JobType::INTERVAL;
      const std::int64_t intervals[] = {6 * 86400, 8 * 86400, 10 * 86400 + 17, 5 * 86400 - 1,
                                        14 * 86400};
      plan.interval = intervals[pick % 5];
    } else if (kind < 88) {  // a few runs left of a limit
      plan.type = JobType::INTERVAL;
      plan.interval = 2 * 86400;
      job.max_runs = 2 + std::int64_t(pick % 3);
      job.run_count = model.run_count = std::int64_t(pick % 3);
      job.last_run = model.last_run = START - 3600;
    } else if (kind < 93) {
      plan.cron = &SPARSE_CRON[pick % SPARSE_CRON.size()];
      job.state = model.state = JobState::PAUSED;
    } else if (kind < 95) {
      plan.type = JobType::INTERVAL;
      plan.interval = 86400;
      job.state = model.state = pick % 2 ? JobState::DISABLED : JobState::COMPLETED;
    } else if (kind < 97) {
      job.schedule = pick % 2 ? "0 6 29 2 *" : "every day at six";  // no time within 366 days
    } else {
      plan.type = JobType::INTERVAL;
      plan.interval = 3 * 86400 + 13;
    }
    job.job_type = plan.type;
    job.interval_seconds = plan.interval;
    job.max_runs = model.max_runs = job.max_runs;
    if (plan.cron) job.schedule = plan.cron->schedule;
    // The stored next runs come from the model, as a previous process would have left them.
    model.next_run = plan.type == JobType::ONCE ? job.next_run : model.calc_next_run(START);
    job.next_run = model.next_run;
    stored[job.id] = job.to_dict();
    models.push_back(std::move(model));
  }
  // Every firing rewrites and flushes the whole file; on tmpfs, where there is one, the flushes
  // cost no disk time on a shared CI machine.
  fs::path data = dir;
  char shm_pattern[] = "/dev/shm/scheduler-soak-XXXXXX";
  if (fs::is_directory("/dev/shm") && mkdtemp(shm_pattern)) data = shm_pattern;
  const fs::path path = data / "scheduler.json";
  struct Cleanup {
    fs::path data;
    ~Cleanup() {
      std::error_code ignored;
      if (!data.empty()) fs::remove_all(data, ignored);
    }
  } cleanup{data == dir ? fs::path() : data};
  write_text(path, common::dump_python_json({{"jobs", stored}, {"executions", json::array()}}));

  std::unordered_map<std::string, Plan*> plans;
  for (auto& model : models) plans[model.plan.id] = &model.plan;
  std::unordered_map<std::string, std::int64_t> calls;
  std::vector<json> completed;
  std::int64_t fired_events = 0, planned_failures = 0, cancellations = 0;
  const JobFireCallback on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    const auto n = calls[job.id]++;
    const Firing how = plans.at(job.id)->run(n);
    const std::string what = job.id + " #" + std::to_string(n);
    if (how.kind == Firing::CANCEL) {
      ++cancellations;
      // This firing is the newest task of its name: the loop starts at most one per pass.
      host::TaskPtr self;
      for (const auto& task : host::live_tasks())
        if (task->name() == "job-" + job.id) self = task;
      host::spawn(co_await host::current_executor(), "canceller", cancel_after(self, how.seconds));
      co_await host::sleep(how.seconds + 3600);
      ADD_FAILURE() << what << " was not cancelled";
    }
    if (how.seconds > 0) co_await host::sleep(how.seconds);
    if (how.kind == Firing::FAIL) {
      ++planned_failures;
      throw std::runtime_error("planned failure of " + what);
    }
    co_return "ran " + what;
  };
  const JobEventCallback on_event = [&](json event) -> asio::awaitable<void> {
    if (event["type"] == "scheduler_job_completed") {
      completed.push_back(std::move(event["execution"]));
    } else {
      ++fired_events;
    }
    co_return;
  };

  auto scheduler = std::make_unique<Scheduler>(on_fire, on_event, path);
  ASSERT_EQ(scheduler->stats()["total_jobs"], job_count);
  const auto start = [&] { run([&]() -> asio::awaitable<void> { co_await scheduler->start(); }); };
  const auto stop = [&] { run([&]() -> asio::awaitable<void> { co_await scheduler->stop(); }); };
  const auto live_firings = [] {
    int n = 0;
    for (const auto& name : host::live_task_names()) n += name.starts_with("job-");
    return n;
  };

  // The week, with a stop in the middle while firings run, and changes made while stopped.
  std::set<std::string> removed, paused, resumed;
  for (std::size_t i = 0; i < models.size() && (paused.size() < 5 || removed.size() < 5); ++i) {
    auto& model = models[i];
    if (model.state != JobState::ACTIVE || i < 4) continue;
    (i % 2 ? removed : paused).insert(model.plan.id);
  }
  for (auto& model : models)
    if (model.state == JobState::PAUSED && resumed.size() < 5) resumed.insert(model.plan.id);

  start();
  // Stops near the middle, at the first pass that finds firings under way.
  double stop_at = START + 30 * std::floor((end_time - START) * 0.47 / 30);
  clock->run_for(io, stop_at - START);
  for (int i = 0; i < 1000 && live_firings() == 0; ++i, stop_at += 30) clock->run_for(io, 30);
  const double restart_at = stop_at + 2 * 3600 + 30;
  const int running_at_stop = live_firings();
  stop();
  for (const auto& id : removed) EXPECT_TRUE(scheduler->remove_job(id));
  for (const auto& id : paused) EXPECT_TRUE(scheduler->pause_job(id));
  clock->run_for(io, restart_at - stop_at);
  for (const auto& id : resumed) EXPECT_TRUE(scheduler->resume_job(id));
  start();
  clock->run_for(io, end_time - restart_at);
  const int running_at_end = live_firings();
  stop();
  clock->run_for(io, 4 * 3600);  // the slowest callback ends
  EXPECT_EQ(live_firings(), 0);
  EXPECT_GT(running_at_stop, 0) << "the stop should catch firings under way";
  EXPECT_GT(running_at_end, 0);

  // The model over the same pass times and changes.
  std::vector<double> passes;
  for (double p = START; p <= stop_at; p += 30) passes.push_back(p);
  for (double p = restart_at; p <= end_time; p += 30) passes.push_back(p);
  for (auto& model : models) {
    const auto& id = model.plan.id;
    bool changed = false, reactivated = false;
    for (const double p : passes) {
      if (!changed && p > stop_at) {
        model.end_until(stop_at, true);
        if (paused.contains(id)) model.state = JobState::PAUSED;
        if (removed.contains(id)) model.state = JobState::DISABLED;  // the loop no longer sees it
        model.end_until(restart_at, false);
        changed = true;
      }
      if (!reactivated && p >= restart_at && resumed.contains(id)) {
        model.state = JobState::ACTIVE;
        model.next_run = model.calc_next_run(restart_at);
        reactivated = true;
      }
      model.pass(p);
    }
    model.end_until(std::numeric_limits<double>::infinity(), true);
    std::stable_sort(model.finished.begin(), model.finished.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }

  // Every firing of every job, as the events reported it, against the model.
  std::map<std::string, std::vector<json>> by_job;
  std::int64_t expected_runs = 0, expected_failures = 0, expected_cancellations = 0;
  std::int64_t registered_runs = 0, active = 0, paused_now = 0;
  for (std::size_t i = 1; i < completed.size(); ++i) {
    ASSERT_LE(completed[i - 1]["completed_at"], completed[i]["completed_at"]);
  }
  for (const auto& execution : completed) by_job[execution["job_id"]].push_back(execution);
  const json file = json::parse(read_text(path));
  for (const auto& model : models) {
    const auto& id = model.plan.id;
    SCOPED_TRACE(id);
    auto runs = by_job[id];
    std::stable_sort(runs.begin(), runs.end(), [](const json& a, const json& b) {
      return a["started_at"].get<double>() < b["started_at"].get<double>();
    });
    ASSERT_EQ(runs.size(), model.finished.size());
    for (std::size_t n = 0; n < runs.size(); ++n) {
      const auto& [started, how] = model.finished[n];
      const auto& execution = runs[n];
      EXPECT_EQ(execution["started_at"], started);
      EXPECT_EQ(execution["duration"], std::round(how.seconds * 100) / 100);
      EXPECT_EQ(execution["success"], how.kind == Firing::OK);
      const std::string what = id + " #" + std::to_string(n);
      EXPECT_EQ(execution["result"], how.kind == Firing::OK ? "ran " + what : "");
      EXPECT_EQ(execution["error"], how.kind == Firing::FAIL ? "planned failure of " + what : "");
      expected_failures += how.kind == Firing::FAIL;
      expected_cancellations += how.kind == Firing::CANCEL;
    }
    expected_runs += std::int64_t(runs.size());
    const auto job = scheduler->get_job(id);
    if (removed.contains(id)) {
      EXPECT_EQ(job, nullptr);
      EXPECT_FALSE(file["jobs"].contains(id));
      continue;
    }
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->state, model.state);
    EXPECT_EQ(job->run_count, model.run_count);
    EXPECT_EQ(job->last_run, model.last_run);
    EXPECT_EQ(job->next_run, model.next_run);
    json listed = job->to_dict();
    json saved = file["jobs"][id];
    saved.erase("metadata");
    EXPECT_EQ(saved, listed);
    registered_runs += job->run_count;
    active += job->state == JobState::ACTIVE;
    paused_now += job->state == JobState::PAUSED;
  }
  EXPECT_EQ(std::int64_t(completed.size()), expected_runs);
  EXPECT_EQ(fired_events, expected_runs);
  EXPECT_EQ(planned_failures, expected_failures);
  EXPECT_EQ(cancellations, expected_cancellations);
  int failure_lines = 0;
  for (const auto& record : logs.records("orvane.scheduler")) {
    failure_lines += record.level == spdlog::level::err &&
                     record.message.find(" failed: planned failure of ") != std::string::npos;
  }
  EXPECT_EQ(failure_lines, expected_failures);

  // The history limits and the counters.
  const auto kept = history_size(expected_runs);
  const json history = scheduler->list_executions(0);
  ASSERT_EQ(std::int64_t(history.size()), kept);
  EXPECT_EQ(history, json(std::vector<json>(completed.end() - kept, completed.end())));
  const auto in_file = std::min<std::int64_t>(kept, 100);
  EXPECT_EQ(file["executions"],
            json(std::vector<json>(completed.end() - in_file, completed.end())));
  const json stats = scheduler->stats();
  EXPECT_EQ(stats["running"], false);
  EXPECT_EQ(stats["total_jobs"], job_count - std::int64_t(removed.size()));
  EXPECT_EQ(stats["active_jobs"], active);
  EXPECT_EQ(stats["paused_jobs"], paused_now);
  EXPECT_EQ(stats["total_executions"], registered_runs);
  EXPECT_EQ(stats["recent_executions"], kept);

  // A new process reads back exactly the jobs this one holds.
  const json listing = scheduler->list_jobs();
  scheduler.reset();
  logs.clear();
  Scheduler reloaded(nullptr, nullptr, path);
  EXPECT_EQ(reloaded.list_jobs(), listing);
  for (const auto& record : logs.records()) EXPECT_LT(record.level, spdlog::level::err);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double wall = duration<double>(steady_clock::now() - wall_start).count();
  std::cout << "soak: " << job_count << " jobs, " << (end_time - START) / 86400 << " days, "
            << expected_runs << " firings (" << expected_failures << " failed, "
            << expected_cancellations << " cancelled), " << running_at_stop
            << " under way at the stop; " << wall << " s wall, peak RSS " << usage.ru_maxrss
            << " KiB\n";
  RecordProperty("firings", int(expected_runs));
  RecordProperty("peak_rss_kib", int(usage.ru_maxrss));
  // The full-size week crosses the history cut; smaller runs (the sanitizer build) may not.
  if (job_count >= 1000) {
    EXPECT_GT(expected_runs, 501) << "the history must be cut at least once";
  }
  EXPECT_GT(expected_failures, 0);
  EXPECT_GT(expected_cancellations, 0);
}

}  // namespace
}  // namespace orvane::scheduler::testing
