#include <gtest/gtest.h>

#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using spdlog::level::err;
using spdlog::level::info;

class Registry : public SchedulerTest {
 protected:
  std::vector<std::string> ids(const json& list) {
    std::vector<std::string> result;
    for (const auto& d : list) result.push_back(d["id"]);
    return result;
  }
};

TEST_F(Registry, MissingStateFileGivesAnEmptyRegistryAndTheFirstAddCreatesIt) {
  const auto path = dir / "a" / "b" / "scheduler.json";
  Scheduler scheduler(nullptr, nullptr, path);
  EXPECT_TRUE(scheduler.list_jobs().empty());
  EXPECT_TRUE(logs.records("orvane.scheduler").empty());
  scheduler.add_job(ScheduledJob{.id = "j1", .schedule = "0 6 * * *"});
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(json::parse(read_text(path))["jobs"]["j1"]["schedule"], "0 6 * * *");
}

TEST_F(Registry, DefaultStateFileLiesInTheDataDirectory) {
  Scheduler scheduler;
  EXPECT_EQ(scheduler.storage_path(), dir / ".orvane" / "scheduler.json");
  scheduler.add_job(ScheduledJob{.job_type = JobType::ONCE});
  EXPECT_TRUE(fs::exists(dir / ".orvane" / "scheduler.json"));
}

TEST_F(Registry, AddingACronJobSchedulesTheNextMatchingMinuteAndLogsIt) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = std::make_shared<ScheduledJob>(
      ScheduledJob{.id = "abc", .name = "news", .schedule = "0 6 * * *", .next_run = 5});
  EXPECT_EQ(scheduler.add_job(job), job);
  EXPECT_EQ(scheduler.get_job("abc"), job);  // the registered object itself
  EXPECT_EQ(job->next_run, utc(2025, 3, 10, 6, 0));
  EXPECT_TRUE(logs.contains(info, "Job added: news (abc) \u2014 next run: 2025-03-10 06:00:00"));
}

TEST_F(Registry, ABadCronScheduleLeavesTheJobRegisteredButUnscheduled) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = scheduler.add_job(ScheduledJob{.id = "bad", .name = "b", .schedule = "0 6 *"});
  EXPECT_EQ(job->next_run, 0);
  EXPECT_TRUE(logs.contains(err,
                            "Invalid cron expression for job bad: Cron expression must have 5 "
                            "fields (min hour dom month dow), got 3: '0 6 *'"));
  EXPECT_TRUE(logs.contains(info, "Job added: b (bad) \u2014 next run: Never"));
  scheduler.add_job(ScheduledJob{.id = "never", .schedule = "0 0 30 2 *"});
  EXPECT_TRUE(logs.contains(
      err, "Invalid cron expression for job never: No next occurrence found for cron: 0 0 30 2 *"));
  EXPECT_EQ(scheduler.list_jobs().size(), 2u);
}

TEST_F(Registry, IntervalAndOneShotJobsTakeTheirTimesAsDefined) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  EXPECT_EQ(
      scheduler.add_job(ScheduledJob{.job_type = JobType::INTERVAL, .interval_seconds = 3600})
          ->next_run,
      START + 3600);
  EXPECT_EQ(scheduler
                .add_job(ScheduledJob{
                    .job_type = JobType::INTERVAL, .interval_seconds = 3600, .last_run = 1000})
                ->next_run,
            4600);
  EXPECT_EQ(scheduler.add_job(ScheduledJob{.job_type = JobType::INTERVAL, .interval_seconds = 0})
                ->next_run,
            0);
  EXPECT_EQ(
      scheduler.add_job(ScheduledJob{.job_type = JobType::ONCE, .next_run = START + 5})->next_run,
      START + 5);
  EXPECT_EQ(scheduler.add_job(ScheduledJob{.job_type = JobType::ONCE})->next_run, 0);
}

TEST_F(Registry, AddingUnderAPresentIdReplacesTheJobInItsPlace) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  for (const char* id : {"a", "b", "c"}) {
    scheduler.add_job(ScheduledJob{.id = id, .job_type = JobType::ONCE, .next_run = 10});
  }
  scheduler.add_job(
      ScheduledJob{.id = "b", .name = "second", .job_type = JobType::ONCE, .next_run = 10});
  EXPECT_EQ(ids(scheduler.list_jobs()), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(scheduler.get_job("b")->name, "second");
  std::vector<std::string> stored;
  const auto file = state_file();
  for (const auto& [key, value] : file["jobs"].items()) stored.push_back(key);
  EXPECT_EQ(stored, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(Registry, UpdateSetsFieldsAndRecomputesOnlyForScheduleOrInterval) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = scheduler.add_job(ScheduledJob{.id = "j", .schedule = "0 6 * * *"});
  EXPECT_EQ(scheduler.update_job("j", {{"schedule", "30 7 * * *"}, {"name", "later"}}), job);
  EXPECT_EQ(job->next_run, utc(2025, 3, 10, 7, 30));
  EXPECT_EQ(job->name, "later");
  EXPECT_EQ(state_file()["jobs"]["j"]["name"], "later");

  // Enum fields are given as their texts; on their own they do not move the next run.
  scheduler.update_job("j", {{"job_type", "interval"}, {"state", "paused"}, {"next_run", 42}});
  EXPECT_EQ(job->job_type, JobType::INTERVAL);
  EXPECT_EQ(job->state, JobState::PAUSED);
  EXPECT_EQ(job->next_run, 42);
  scheduler.update_job("j", {{"interval_seconds", 60}});
  EXPECT_EQ(job->next_run, START + 60);

  const auto before = job->to_dict();
  EXPECT_EQ(scheduler.update_job("j", {{"not_a_field", 1}}), job);
  EXPECT_EQ(job->to_dict(), before);
  EXPECT_EQ(scheduler.update_job("missing", {{"name", "x"}}), nullptr);
}

TEST_F(Registry, UpdateRefusesAnIdChangeOrAWrongValueAndLeavesTheJobAsItWas) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = scheduler.add_job(ScheduledJob{.id = "j", .name = "n", .schedule = "0 6 * * *"});
  const auto before = job->to_dict();
  const auto file_before = read_text(state_path());
  EXPECT_THROW(scheduler.update_job("j", {{"name", "changed"}, {"id", "k"}}), InvalidValueError);
  EXPECT_THROW(scheduler.update_job("j", {{"name", "changed"}, {"state", "sleeping"}}),
               InvalidValueError);
  EXPECT_THROW(scheduler.update_job("j", {{"name", "changed"}, {"interval_seconds", "9"}}),
               InvalidValueError);
  EXPECT_EQ(job->to_dict(), before);
  EXPECT_EQ(read_text(state_path()), file_before);
  EXPECT_EQ(scheduler.get_job("j"), job);
  EXPECT_EQ(scheduler.get_job("k"), nullptr);
}

TEST_F(Registry, RemovePauseAndResume) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = scheduler.add_job(ScheduledJob{.id = "j", .schedule = "0 6 * * *"});
  EXPECT_TRUE(scheduler.pause_job("j"));
  EXPECT_EQ(job->state, JobState::PAUSED);
  EXPECT_EQ(job->next_run, utc(2025, 3, 10, 6, 0));
  EXPECT_EQ(state_file()["jobs"]["j"]["state"], "paused");

  job->next_run = 1;
  EXPECT_TRUE(scheduler.resume_job("j"));
  EXPECT_EQ(job->state, JobState::ACTIVE);
  EXPECT_EQ(job->next_run, utc(2025, 3, 10, 6, 0));

  auto once = scheduler.add_job(ScheduledJob{.id = "o", .job_type = JobType::ONCE});
  once->state = JobState::COMPLETED;
  EXPECT_TRUE(scheduler.resume_job("o"));
  EXPECT_EQ(once->state, JobState::ACTIVE);
  EXPECT_EQ(once->next_run, 0);

  logs.clear();
  EXPECT_FALSE(scheduler.remove_job("x"));
  EXPECT_FALSE(scheduler.pause_job("x"));
  EXPECT_FALSE(scheduler.resume_job("x"));
  EXPECT_TRUE(logs.records().empty());
  EXPECT_TRUE(scheduler.remove_job("j"));
  EXPECT_TRUE(logs.contains(info, "Job removed: j"));
  EXPECT_EQ(scheduler.get_job("j"), nullptr);
  EXPECT_FALSE(state_file()["jobs"].contains("j"));
}

TEST_F(Registry, ListingSortsByNextRunWithUnscheduledJobsLast) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  const auto once = [&](const char* id, double at) {
    scheduler.add_job(ScheduledJob{.id = id, .job_type = JobType::ONCE, .next_run = at});
  };
  once("none1", 0);
  once("late", 300);
  once("tie1", 200);
  once("none2", 0);
  once("tie2", 200);
  once("early", 100);
  EXPECT_EQ(ids(scheduler.list_jobs()),
            (std::vector<std::string>{"early", "tie1", "tie2", "late", "none1", "none2"}));
}

TEST_F(Registry, StatsCountJobsByState) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  scheduler.add_job(ScheduledJob{.id = "a", .run_count = 2});
  scheduler.add_job(ScheduledJob{.id = "b", .run_count = 3});
  scheduler.add_job(ScheduledJob{.id = "c", .state = JobState::DISABLED});
  scheduler.pause_job("b");
  EXPECT_EQ(scheduler.stats(), json({{"running", false},
                                     {"total_jobs", 3},
                                     {"active_jobs", 1},
                                     {"paused_jobs", 1},
                                     {"total_executions", 5},
                                     {"recent_executions", 0}}));
}

// Naive local times are read as mktime reads them, daylight saving time included.
TEST_F(Registry, CronTimesFollowTheLocalZoneAcrossDaylightSaving) {
  if (!fs::exists("/usr/share/zoneinfo/America/New_York")) GTEST_SKIP() << "no zone data";
  set_time_zone("America/New_York");
  // 2025-03-08 13:00 EST; the clocks go forward on 2025-03-09 at 02:00.
  clock = std::make_shared<host::VirtualClock>(utc(2025, 3, 8, 18, 0));
  host::set_clock(clock);
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto noon = scheduler.add_job(ScheduledJob{.name = "noon", .schedule = "0 12 * * *"});
  EXPECT_EQ(noon->next_run, utc(2025, 3, 9, 16, 0));  // 12:00 EDT
  EXPECT_EQ(_format_timestamp(noon->next_run), "2025-03-09 12:00:00");

  // 02:30 does not exist that day; mktime moves it forward by the hour that was skipped.
  auto gap = scheduler.add_job(ScheduledJob{.schedule = "30 2 9 3 *"});
  std::tm tm{};  // named fields only: the rest differ between C libraries
  tm.tm_min = 30;
  tm.tm_hour = 2;
  tm.tm_mday = 9;
  tm.tm_mon = 2;
  tm.tm_year = 125;
  tm.tm_isdst = -1;
  EXPECT_EQ(gap->next_run, double(mktime(&tm)));
  EXPECT_EQ(_format_timestamp(gap->next_run), "2025-03-09 03:30:00");
}

}  // namespace
}  // namespace orvane::scheduler::testing
