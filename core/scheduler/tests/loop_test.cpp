#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <functional>
#include <limits>
#include <map>
#include <stdexcept>

#include "orvane/host/loop.hpp"
#include "state.hpp"
#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using spdlog::level::debug;
using spdlog::level::err;
using spdlog::level::info;

class Loop : public SchedulerTest {
 protected:
  std::vector<std::string> fired;  // ids in firing order
  std::vector<double> fire_times;
  std::vector<json> events;
  std::string result = "done";

  JobFireCallback on_fire = [this](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    fire_times.push_back(host::clock().time());
    co_return result;
  };
  JobEventCallback on_event = [this](json event) -> asio::awaitable<void> {
    events.push_back(std::move(event));
    co_return;
  };

  std::unique_ptr<Scheduler> make() {
    return std::make_unique<Scheduler>(on_fire, on_event, state_path());
  }
  void start(Scheduler& scheduler) {
    run([&]() -> asio::awaitable<void> { co_await scheduler.start(); });
  }
  void stop(Scheduler& scheduler) {
    run([&]() -> asio::awaitable<void> { co_await scheduler.stop(); });
  }
  // Restarts the virtual clock at `time` (it only moves forward).
  void set_time(double time) {
    clock = std::make_shared<host::VirtualClock>(time);
    host::set_clock(clock);
  }
  int count(spdlog::level::level_enum level, const std::string& message) {
    int n = 0;
    for (const auto& record : logs.records())
      n += record.level == level && record.message == message;
    return n;
  }
};

TEST_F(Loop, FiveMinuteCronFiresTwelveTimesAnHourWithinThirtySecondsOfItsMinute) {
  set_time(START + 13);  // 05:59:43, so that passes fall at :13 and :43
  auto scheduler = make();
  scheduler->add_job(ScheduledJob{.id = "five", .schedule = "*/5 * * * *"});
  start(*scheduler);
  clock->run_for(io, 3600);
  ASSERT_EQ(fired.size(), 12u);
  for (std::size_t i = 0; i < fire_times.size(); ++i) {
    const double minute = utc(2025, 3, 10, 6, int(5 * i));
    EXPECT_GE(fire_times[i], minute);
    EXPECT_LE(fire_times[i], minute + 30);
  }
  stop(*scheduler);
}

TEST_F(Loop, AJobDueWhileStoppedFiresOnceAtStart) {
  auto scheduler = make();
  auto job = scheduler->add_job(ScheduledJob{.id = "noon", .schedule = "0 12 * * *"});
  scheduler->update_job("noon", {{"next_run", START - 5 * 3600}});  // missed several times
  start(*scheduler);
  EXPECT_EQ(fired, std::vector<std::string>{"noon"});
  clock->run_for(io, 600);
  EXPECT_EQ(fired.size(), 1u);
  EXPECT_EQ(job->next_run, utc(2025, 3, 10, 12, 0));
  EXPECT_EQ(job->last_run, START);
  stop(*scheduler);
}

TEST_F(Loop, OneShotJobFiresOnceAndCompletes) {
  auto scheduler = make();
  auto job = scheduler->add_job(
      ScheduledJob{.id = "once", .job_type = JobType::ONCE, .next_run = START - 100});
  start(*scheduler);
  clock->run_for(io, 3600);
  EXPECT_EQ(fired.size(), 1u);
  EXPECT_EQ(job->state, JobState::COMPLETED);
  EXPECT_EQ(job->next_run, 0);
  EXPECT_EQ(state_file()["jobs"]["once"]["state"], "completed");
  // Resuming a completed one-shot job leaves it unscheduled.
  scheduler->resume_job("once");
  clock->run_for(io, 3600);
  EXPECT_EQ(fired.size(), 1u);
  stop(*scheduler);
}

TEST_F(Loop, MaxRunsEndsTheJobAndResumeAllowsOneMoreRun) {
  std::map<std::string, std::vector<double>> next_run_seen;
  on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    next_run_seen[job.id].push_back(job.next_run);
    co_return "";
  };
  auto scheduler = make();
  auto job = scheduler->add_job(ScheduledJob{
      .id = "three", .job_type = JobType::INTERVAL, .interval_seconds = 60, .max_runs = 3});
  auto single =
      scheduler->add_job(ScheduledJob{.id = "one", .schedule = "* * * * *", .max_runs = 1});
  start(*scheduler);
  clock->run_for(io, 3600);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "three"), 3);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "one"), 1);
  // A last run is unscheduled from the moment it starts.
  EXPECT_EQ(next_run_seen["three"], (std::vector<double>{START + 120, START + 120, 0}));
  EXPECT_EQ(next_run_seen["one"], std::vector<double>{0});
  EXPECT_EQ(job->state, JobState::COMPLETED);
  EXPECT_EQ(job->next_run, 0);
  EXPECT_EQ(job->run_count, 3);
  EXPECT_EQ(single->state, JobState::COMPLETED);

  fired.clear();
  scheduler->resume_job("three");
  scheduler->resume_job("one");
  clock->run_for(io, 3600);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "three"), 1);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "one"), 1);
  EXPECT_EQ(job->state, JobState::COMPLETED);
  EXPECT_EQ(job->run_count, 4);
  stop(*scheduler);
}

// A stored count may hold any integer: counting on must neither overflow nor keep a limited job
// from completing.
TEST_F(Loop, RunCountsAtTheTopOfTheirRangeDoNotOverflow) {
  constexpr auto most = std::numeric_limits<std::int64_t>::max();
  auto scheduler = make();
  auto limited = scheduler->add_job(ScheduledJob{.id = "limited",
                                                 .job_type = JobType::INTERVAL,
                                                 .interval_seconds = 60,
                                                 .run_count = most,
                                                 .max_runs = 5});
  auto endless = scheduler->add_job(ScheduledJob{
      .id = "endless", .job_type = JobType::INTERVAL, .interval_seconds = 60, .run_count = most});
  EXPECT_EQ(scheduler->stats()["total_executions"], most);
  start(*scheduler);
  clock->run_for(io, 270);  // passes at 60, 120, 180 and 240 s find them due
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "limited"), 1);
  EXPECT_EQ(limited->state, JobState::COMPLETED);
  EXPECT_EQ(limited->run_count, most);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "endless"), 4);
  EXPECT_EQ(endless->state, JobState::ACTIVE);
  EXPECT_EQ(endless->run_count, most);
  EXPECT_EQ(scheduler->stats()["total_executions"], most);
  EXPECT_EQ(state_file()["jobs"]["limited"]["run_count"], most);
  stop(*scheduler);
}

TEST_F(Loop, APausedJobNeverFires) {
  auto scheduler = make();
  scheduler->add_job(ScheduledJob{.id = "p", .job_type = JobType::ONCE, .next_run = START - 1e6});
  scheduler->pause_job("p");
  start(*scheduler);
  clock->run_for(io, 7200);
  EXPECT_TRUE(fired.empty());
  stop(*scheduler);
}

TEST_F(Loop, ResultsAndFailuresAreRecorded) {
  auto scheduler = make();
  scheduler->add_job(
      ScheduledJob{.id = "ok", .name = "fine", .job_type = JobType::ONCE, .next_run = 1});
  start(*scheduler);
  result = "";
  scheduler->add_job(ScheduledJob{.id = "empty", .job_type = JobType::ONCE, .next_run = 1});
  clock->run_for(io, 30);

  on_fire = [](ScheduledJob&) -> asio::awaitable<std::string> {
    throw std::runtime_error("boom");
    co_return "";
  };
  auto failing = std::make_unique<Scheduler>(on_fire, nullptr, dir / "other.json");
  auto job = failing->add_job(
      ScheduledJob{.id = "bad", .job_type = JobType::INTERVAL, .interval_seconds = 600});
  job->next_run = clock->time();
  start(*failing);
  auto silent = std::make_unique<Scheduler>(nullptr, nullptr, dir / "silent.json");
  silent->add_job(ScheduledJob{.id = "quiet", .job_type = JobType::ONCE, .next_run = 1});
  start(*silent);

  const auto executions = scheduler->list_executions();
  ASSERT_EQ(executions.size(), 2u);
  EXPECT_EQ(executions[0]["job_name"], "fine");
  EXPECT_EQ(executions[0]["result"], "done");
  EXPECT_EQ(executions[0]["success"], true);
  EXPECT_EQ(executions[1]["result"], "Completed");
  EXPECT_EQ(silent->list_executions()[0]["result"], "Completed");
  EXPECT_EQ(silent->list_executions()[0]["success"], true);

  const auto failed = failing->list_executions();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]["success"], false);
  EXPECT_EQ(failed[0]["error"], "boom");
  EXPECT_EQ(failed[0]["result"], "");
  EXPECT_EQ(job->run_count, 1);
  EXPECT_EQ(job->last_run, clock->time());
  EXPECT_EQ(job->next_run, clock->time() + 600);
  const auto records = logs.records("orvane.scheduler");
  const auto record = std::find_if(records.begin(), records.end(), [](const auto& r) {
    return r.message == "Job bad failed: boom";
  });
  ASSERT_NE(record, records.end());
  EXPECT_EQ(record->level, err);
  EXPECT_NE(record->trace.find("boom"), std::string::npos);
  for (auto* s : {scheduler.get(), failing.get(), silent.get()}) stop(*s);
}

// Worker output and error texts may be raw bytes that are not UTF-8 (a cut in the middle of a
// character, a file name); they must not cost the execution record or later saves.
TEST_F(Loop, ResultsAndErrorsThatAreNotUtf8AreRecordedAndSaved) {
  const std::string cut_euro = "cost: 5 \xe2\x82";
  on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    if (job.id == "bad") throw std::runtime_error("no file \xff.txt");
    co_return cut_euro;
  };
  auto scheduler = make();
  scheduler->add_job(ScheduledJob{.id = "ok", .job_type = JobType::ONCE, .next_run = 1});
  scheduler->add_job(ScheduledJob{.id = "bad", .job_type = JobType::ONCE, .next_run = 1});
  start(*scheduler);
  ASSERT_EQ(fired.size(), 2u);
  const auto executions = scheduler->list_executions();
  ASSERT_EQ(executions.size(), 2u);
  EXPECT_EQ(executions[0]["result"], "cost: 5 \ufffd");
  EXPECT_EQ(executions[1]["error"], "no file \ufffd.txt");
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(state_file()["executions"], executions);
  EXPECT_EQ(state_file()["jobs"]["bad"]["state"], "completed");
  scheduler->add_job(ScheduledJob{.id = "later", .job_type = JobType::ONCE});
  EXPECT_TRUE(state_file()["jobs"].contains("later"));
  stop(*scheduler);
}

TEST_F(Loop, AnAbortedOperationInsideTheCallbackIsAFailureNotACancellation) {
  on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    throw boost::system::system_error(asio::error::operation_aborted, "read");
    co_return "";
  };
  auto scheduler = make();
  auto job = scheduler->add_job(
      ScheduledJob{.id = "io", .job_type = JobType::INTERVAL, .interval_seconds = 600});
  job->next_run = START;
  start(*scheduler);
  ASSERT_EQ(fired.size(), 1u);
  const auto executions = scheduler->list_executions();
  ASSERT_EQ(executions.size(), 1u);
  EXPECT_EQ(executions[0]["success"], false);
  const std::string error = executions[0]["error"];
  EXPECT_NE(error.find("read"), std::string::npos) << error;
  EXPECT_TRUE(logs.contains(err, "Job io failed: " + error));
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(job->next_run, START + 600);
  stop(*scheduler);
}

TEST_F(Loop, AFailingFiredEventEndsTheFiringBeforeAnythingIsRecorded) {
  on_event = [](json event) -> asio::awaitable<void> {
    if (event["type"] == "scheduler_job_fired") throw std::runtime_error("host is gone");
    co_return;
  };
  auto scheduler = make();
  auto job = scheduler->add_job(
      ScheduledJob{.id = "iv", .job_type = JobType::INTERVAL, .interval_seconds = 600});
  job->next_run = START;
  start(*scheduler);
  EXPECT_TRUE(fired.empty());
  EXPECT_TRUE(scheduler->list_executions().empty());
  EXPECT_EQ(job->run_count, 0);
  EXPECT_EQ(job->last_run, 0);
  EXPECT_EQ(job->next_run, START + 600);  // moved by the loop before the firing
  EXPECT_TRUE(logs.contains(err, "Task job-iv failed"));
  stop(*scheduler);
}

TEST_F(Loop, AFiringSendsTwoEventsTheSecondAfterTheFileIsWritten) {
  std::vector<std::size_t> stored_executions;
  on_event = [&](json event) -> asio::awaitable<void> {
    stored_executions.push_back(state_file()["executions"].size());
    events.push_back(std::move(event));
    co_return;
  };
  auto scheduler = make();
  auto job = scheduler->add_job(ScheduledJob{.id = "e", .name = "ev", .schedule = "0 6 * * *"});
  start(*scheduler);
  clock->run_for(io, 60);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["type"], "scheduler_job_fired");
  EXPECT_EQ(events[0].size(), 2u);
  EXPECT_EQ(events[0]["job"]["id"], "e");
  EXPECT_EQ(events[0]["job"]["run_count"], 0);
  EXPECT_EQ(events[1]["type"], "scheduler_job_completed");
  EXPECT_EQ(events[1]["execution"], scheduler->list_executions()[0]);
  EXPECT_EQ(events[1]["execution"]["started_at_human"], "2025-03-10 06:00:00");
  EXPECT_EQ(stored_executions, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(state_file()["executions"][0], events[1]["execution"]);
  EXPECT_EQ(job->next_run, utc(2025, 3, 11, 6, 0));
  stop(*scheduler);
}

TEST_F(Loop, HistoryKeeps250OfMoreThan500InMemoryAnd100InTheFile) {
  auto scheduler = make();
  scheduler->add_job(
      ScheduledJob{.id = "x", .job_type = JobType::INTERVAL, .interval_seconds = 30});
  scheduler->add_job(ScheduledJob{.id = "y", .job_type = JobType::ONCE, .next_run = START + 45});
  start(*scheduler);
  while (fired.size() < 501) clock->run_for(io, 30);
  EXPECT_EQ(fired.size(), 501u);
  EXPECT_EQ(scheduler->stats()["recent_executions"], 250);
  const auto all = scheduler->list_executions(0);
  ASSERT_EQ(all.size(), 250u);
  EXPECT_EQ(all.back()["started_at"], fire_times.back());
  const auto stored = state_file()["executions"];
  ASSERT_EQ(stored.size(), 100u);
  EXPECT_EQ(stored.back(), all.back());
  EXPECT_EQ(stored.front(), all[150]);

  // Limits count from the end; -k skips the first k.
  EXPECT_EQ(scheduler->list_executions().size(), 50u);
  EXPECT_EQ(scheduler->list_executions(-240).size(), 10u);
  EXPECT_EQ(scheduler->list_executions(-240)[0], all[240]);
  EXPECT_EQ(scheduler->list_executions(-1000).size(), 0u);
  EXPECT_EQ(scheduler->list_executions(1000).size(), 250u);
  EXPECT_EQ(scheduler->list_executions(0, "y").size(), 0u);  // fired long before the kept 250
  EXPECT_EQ(scheduler->list_executions(2, "x"), json::array({all[248], all[249]}));
  EXPECT_EQ(scheduler->list_executions(0, "").size(), 250u);
  stop(*scheduler);
}

TEST_F(Loop, StopDuringTheWaitReturnsAtOnceAndStartStopAreIdempotent) {
  auto scheduler = make();
  start(*scheduler);
  start(*scheduler);
  EXPECT_TRUE(scheduler->running());
  EXPECT_EQ(host::live_task_names(), std::vector<std::string>{"scheduler"});
  EXPECT_EQ(count(info, "Scheduler started with 0 jobs"), 1);
  EXPECT_EQ(scheduler->stats()["running"], true);

  clock->run_for(io, 10);
  const double before = clock->time();
  bool stopped = false;
  run([&]() -> asio::awaitable<void> {
    co_await scheduler->stop();
    stopped = true;
  });
  EXPECT_TRUE(stopped);
  EXPECT_EQ(clock->time(), before);
  EXPECT_FALSE(scheduler->running());
  EXPECT_TRUE(host::live_task_names().empty());
  EXPECT_TRUE(logs.contains(debug, "Scheduler loop cancelled"));
  stop(*scheduler);
  EXPECT_EQ(count(info, "Scheduler stopped"), 2);

  // A new start makes a new loop task.
  scheduler->add_job(ScheduledJob{.id = "o", .job_type = JobType::ONCE, .next_run = 1});
  start(*scheduler);
  EXPECT_EQ(fired, std::vector<std::string>{"o"});
  EXPECT_TRUE(logs.contains(info, "Scheduler started with 1 jobs"));
  stop(*scheduler);
}

TEST_F(Loop, TwoStopsAtOnceBothReturnAndAStartInBetweenIsKept) {
  auto scheduler = make();
  start(*scheduler);
  int stopped = 0;
  for (int i = 0; i < 2; ++i) {
    asio::co_spawn(io, host::run_owned([&]() -> asio::awaitable<void> {
                     co_await scheduler->stop();
                     ++stopped;
                   }),
                   asio::detached);
  }
  clock->poll(io);
  EXPECT_EQ(stopped, 2);
  EXPECT_FALSE(scheduler->running());
  EXPECT_EQ(count(info, "Scheduler stopped"), 2);

  // A start made while a stop waits for the old loop keeps its new loop task.
  start(*scheduler);
  bool stopping_done = false;
  asio::co_spawn(io, host::run_owned([&]() -> asio::awaitable<void> {
                   co_await scheduler->stop();
                   stopping_done = true;
                 }),
                 asio::detached);
  asio::co_spawn(io, host::run_owned([&]() -> asio::awaitable<void> {
                   // Yields until the old loop task has ended, then starts before the stop
                   // goes on.
                   while (scheduler->running()) {
                     co_await asio::post(co_await host::current_executor(), asio::use_awaitable);
                   }
                   co_await scheduler->start();
                 }),
                 asio::detached);
  clock->poll(io);
  EXPECT_TRUE(stopping_done);
  EXPECT_TRUE(scheduler->running());
  EXPECT_EQ(host::live_task_names(), std::vector<std::string>{"scheduler"});
  stop(*scheduler);
  EXPECT_FALSE(scheduler->running());
}

TEST_F(Loop, ARemovedJobsFiringStillRecordsAndCounts) {
  on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    co_await host::sleep(60);
    co_return "late";
  };
  auto scheduler = make();
  auto job =
      scheduler->add_job(ScheduledJob{.id = "gone", .job_type = JobType::ONCE, .next_run = 1});
  scheduler->add_job(ScheduledJob{.id = "stays", .job_type = JobType::ONCE});
  start(*scheduler);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_TRUE(scheduler->remove_job("gone"));
  job.reset();  // the firing keeps its own reference
  clock->run_for(io, 90);
  const auto executions = scheduler->list_executions();
  ASSERT_EQ(executions.size(), 1u);
  EXPECT_EQ(executions[0]["result"], "late");
  EXPECT_EQ(executions[0]["duration"], 60.0);
  const auto file = state_file();
  EXPECT_FALSE(file["jobs"].contains("gone"));
  EXPECT_TRUE(file["jobs"].contains("stays"));
  EXPECT_EQ(file["executions"].size(), 1u);
  EXPECT_EQ(scheduler->stats()["total_executions"], 0);
  stop(*scheduler);
}

// A host that drops finished one-shots, or edits jobs from its callbacks, changes the registry
// without suspending first. Each job the pass found due still fires exactly once, and nothing
// fires before start() has returned.
TEST_F(Loop, CallbacksThatChangeTheRegistryLeaveThePassAlone) {
  using Change = std::function<void(Scheduler&, const std::string& id)>;
  const auto each_job = [](Scheduler& scheduler, const std::function<void(std::string)>& f) {
    for (const auto& job : scheduler.list_jobs()) f(job["id"]);
  };
  const std::vector<std::pair<std::string, Change>> changes = {
      {"remove every job",
       [&](Scheduler& s, const std::string&) { each_job(s, [&](auto id) { s.remove_job(id); }); }},
      {"add a due job",
       [](Scheduler& s, const std::string& id) {
         s.add_job(ScheduledJob{.id = id + "+", .job_type = JobType::ONCE, .next_run = 1});
       }},
      {"unschedule every job",
       [&](Scheduler& s, const std::string&) {
         each_job(s, [&](auto id) { s.update_job(id, {{"next_run", 0}, {"description", "x"}}); });
       }},
      {"pause every job",
       [&](Scheduler& s, const std::string&) { each_job(s, [&](auto id) { s.pause_job(id); }); }},
  };
  for (const std::string point : {"scheduler_job_fired", "fire", "scheduler_job_completed"}) {
    for (const auto& entry : changes) {
      SCOPED_TRACE(point + ": " + entry.first);
      const Change& change = entry.second;
      logs.clear();
      Scheduler* scheduler = nullptr;
      JobFireCallback fire = nullptr;  // the common host: none, it acts on the events
      if (point == "fire") {
        fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
          change(*scheduler, job.id);
          co_return "";
        };
      }
      const JobEventCallback event = [&](json e) -> asio::awaitable<void> {
        if (e["type"] == point) {
          change(*scheduler, e.contains("job") ? e["job"]["id"] : e["execution"]["job_id"]);
        }
        co_return;
      };
      Scheduler host_scheduler(fire, event, dir / (point + ", " + entry.first + ".json"));
      scheduler = &host_scheduler;
      for (const char* id : {"a", "b", "c"}) {
        host_scheduler.add_job(ScheduledJob{.id = id, .job_type = JobType::ONCE, .next_run = 1});
      }
      start(host_scheduler);
      std::vector<std::string> ran;
      for (const auto& execution : host_scheduler.list_executions(0)) {
        ran.push_back(execution["job_id"]);
      }
      EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
      std::vector<std::string> messages;
      for (const auto& record : logs.records("orvane.scheduler")) {
        if (record.message.starts_with("Scheduler started") ||
            record.message.starts_with("Firing job: ")) {
          messages.push_back(record.message);
        }
      }
      EXPECT_EQ(messages,
                (std::vector<std::string>{"Scheduler started with 3 jobs", "Firing job:  (a)",
                                          "Firing job:  (b)", "Firing job:  (c)"}));
      stop(host_scheduler);
    }
  }
}

TEST_F(Loop, AnIntervalJobIsNotFiredAgainWhileItsFiringRuns) {
  int running = 0, most = 0;
  on_fire = [&](ScheduledJob& job) -> asio::awaitable<std::string> {
    fired.push_back(job.id);
    most = std::max(most, ++running);
    co_await host::sleep(100);
    --running;
    co_return "";
  };
  auto scheduler = make();
  auto job = scheduler->add_job(
      ScheduledJob{.id = "slow", .job_type = JobType::INTERVAL, .interval_seconds = 60});
  start(*scheduler);
  clock->run_for(io, 3600);
  EXPECT_EQ(most, 1);
  // Fires at 60 s, ends at 160 s with the next run at 120 s, fires again at the pass at 180 s...
  EXPECT_EQ(fired.size(), 3600u / 120);
  stop(*scheduler);
}

TEST_F(Loop, CancellingAFiringDuringTheCallbackStillRecordsThenEndsCancelled) {
  auto state = std::make_shared<Scheduler::State>();
  state->_storage_path = state_path();
  state->_log = host::get_logger("orvane.scheduler");
  state->_on_fire = [&](ScheduledJob&) -> asio::awaitable<std::string> {
    co_await host::sleep(3600);
    co_return "never";
  };
  state->_on_event = [&](json event) -> asio::awaitable<void> {
    co_await host::sleep(1);  // the closing steps can still wait after the cancellation
    events.push_back(std::move(event));
  };
  auto job = std::make_shared<ScheduledJob>(
      ScheduledJob{.id = "c", .job_type = JobType::INTERVAL, .interval_seconds = 60});
  state->_jobs.put(job->id, job);
  auto task = host::spawn(io.get_executor(), "job-c", _fire_job(state, job));
  clock->run_for(io, 10);
  ASSERT_EQ(events.size(), 1u);
  task->cancel();
  clock->run_for(io, 10);
  EXPECT_TRUE(task->done());
  EXPECT_TRUE(task->cancelled());
  ASSERT_EQ(events.size(), 2u);
  const auto execution = events[1]["execution"];
  EXPECT_EQ(execution["success"], false);
  EXPECT_EQ(execution["error"], "");
  EXPECT_EQ(execution["result"], "");
  EXPECT_EQ(job->run_count, 1);
  EXPECT_EQ(state_file()["executions"].size(), 1u);
  EXPECT_TRUE(state->_firing.empty());
  EXPECT_FALSE(logs.contains(err, "Task job-c failed"));
}

}  // namespace
}  // namespace orvane::scheduler::testing
