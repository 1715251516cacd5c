// Whatever reaches the scheduler, through its operations or in the state file on disk, ends in a
// clear refusal or a correct result: never a crash, and never a state file changed by a refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using spdlog::level::err;

class BadInput : public SchedulerTest {
 protected:
  bool logged_error_starting(const std::string& prefix) const {
    for (const auto& record : logs.records("orvane.scheduler")) {
      if (record.level == err && record.message.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
};

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MIN = std::numeric_limits<std::int64_t>::min();

TEST_F(BadInput, RefusedValuesLeaveTheJobAndTheFileAsTheyWere) {
  const json refused[] = {
      {{"interval_seconds", NOT_A_NUMBER}},
      {{"interval_seconds", INF}},
      {{"interval_seconds", -INF}},
      {{"interval_seconds", 1e19}},
      {{"interval_seconds", 9223372036854775808ULL}},
      {{"interval_seconds", 1.5}},
      {{"interval_seconds", "60"}},
      {{"run_count", 18446744073709551615ULL}},
      {{"max_runs", -1e300}},
      {{"next_run", NOT_A_NUMBER}},
      {{"last_run", -INF}},
      {{"created_at", INF}},
      {{"next_run", "soon"}},
      {{"name", 5}},
      {{"prompt", nullptr}},
      {{"schedule", json::array({"0", "6"})}},
      {{"job_type", "\xff"}},
      {{"state", "active\xc3"}},
      {{"spawn_worker", 1}},
      {{"metadata", "\xfe"}},
      // A good value before the bad one is not applied either.
      {{"name", "renamed"}, {"interval_seconds", NOT_A_NUMBER}},
  };
  Scheduler scheduler(nullptr, nullptr, state_path());
  scheduler.add_job(ScheduledJob{
      .id = "j", .name = "keep", .job_type = JobType::INTERVAL, .interval_seconds = 60});
  const auto text = read_text(state_path());
  const auto listed = scheduler.list_jobs();
  for (const auto& updates : refused) {
    SCOPED_TRACE(updates.dump(-1, ' ', false, json::error_handler_t::replace));
    EXPECT_THROW(scheduler.update_job("j", updates), InvalidValueError);
    EXPECT_EQ(scheduler.list_jobs(), listed);
    EXPECT_EQ(read_text(state_path()), text);
  }
}

// Values at or past the edges that the scheduler takes, with what it makes of them, through the
// operations and after a restart.
TEST_F(BadInput, EdgeValuesThatAreTakenGiveTheDefinedScheduleAndSurviveARestart) {
  struct Case {
    const char* id;
    ScheduledJob job;
    double next_run;  // NOT_A_NUMBER: only that it is finite and in the future
  };
  const Case cases[] = {
      {"zero", {.job_type = JobType::INTERVAL, .interval_seconds = 0}, 0},
      {"negative", {.job_type = JobType::INTERVAL, .interval_seconds = -60}, 0},
      {"lowest", {.job_type = JobType::INTERVAL, .interval_seconds = MIN}, 0},
      {"highest", {.job_type = JobType::INTERVAL, .interval_seconds = MAX}, START + double(MAX)},
      {"counted",
       {.job_type = JobType::ONCE, .next_run = 1e308, .run_count = MAX, .max_runs = MIN},
       1e308},
      {"cron-bytes", {.schedule = "\xff * * * *"}, 0},
      {"cron-huge", {.schedule = "99999999999999999999 * * * *"}, 0},
      {"cron-step", {.schedule = "*/999999999999999999 * * * *"}, NOT_A_NUMBER},
      {"texts",
       {.name = "n\xc3\x28",
        .schedule = "0 6 * * *",
        .prompt = "p\xed\xa0\x80",
        .model_key = "\x80"},
       NOT_A_NUMBER},
  };
  {
    Scheduler scheduler(nullptr, nullptr, state_path());
    for (const auto& [id, job, next_run] : cases) {
      SCOPED_TRACE(id);
      auto added = job;
      added.id = id;
      const auto registered = scheduler.add_job(added);
      if (std::isnan(next_run)) {
        EXPECT_GT(registered->next_run, START);
      } else {
        EXPECT_EQ(registered->next_run, next_run);
      }
      // The dictionary form is always writable JSON.
      EXPECT_NO_THROW(registered->to_dict().dump());
    }
    EXPECT_FALSE(logged_error_starting("Failed to save scheduler state: "));
    EXPECT_TRUE(logged_error_starting("Invalid cron expression for job cron-bytes: "));
    EXPECT_TRUE(logged_error_starting("Invalid cron expression for job cron-huge: "));
  }
  Scheduler restarted(nullptr, nullptr, state_path());
  ASSERT_EQ(restarted.list_jobs().size(), std::size(cases));
  for (const auto& [id, job, next_run] : cases) {
    SCOPED_TRACE(id);
    const auto loaded = restarted.get_job(id);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->interval_seconds, job.interval_seconds);
    EXPECT_EQ(loaded->run_count, job.run_count);
    EXPECT_EQ(loaded->max_runs, job.max_runs);
    EXPECT_EQ(loaded->to_dict()["name"], job.to_dict()["name"]);
  }
  EXPECT_EQ(restarted.get_job("texts")->prompt, "p\ufffd\ufffd\ufffd");
  EXPECT_EQ(restarted.stats()["total_executions"], MAX);
}

// A state file that cannot be read whole loads nothing after the bad job and is set aside
// byte-for-byte, so that the next save destroys nothing.
TEST_F(BadInput, StateFilesThatCannotBeReadAreSetAsideUnchanged) {
  const auto job = [](const std::string& fields) {
    return R"({"jobs": {"a": {"id": "a"}, "b": {"id": "b", )" + fields + "}}}";
  };
  const std::string deep = std::string(600, '[') + std::string(600, ']');
  const std::string unreadable[] = {
      job("\"name\": \"\xff\""),            // bytes that are not UTF-8
      job("\"prompt\": \"\xed\xa0\x80\""),  // an encoded surrogate
      job("\"schedule\": \"\xc3\""),
      job("\"interval_seconds\": 1e19"),
      job("\"interval_seconds\": -9223372036854775809"),
      job("\"run_count\": 18446744073709551616"),
      job("\"max_runs\": NaN"),
      job("\"interval_seconds\": Infinity"),
      job("\"interval_seconds\": 2.5"),
      job("\"next_run\": \"later\""),
      job("\"name\": " + deep),
      job("\"metadata\": {\"k\": " + deep + "}"),
      deep,
  };
  for (const auto& text : unreadable) {
    SCOPED_TRACE(text.substr(0, 80));
    fs::remove_all(dir);
    write_text(state_path(), text);
    logs.clear();
    Scheduler scheduler(nullptr, nullptr, state_path());
    EXPECT_TRUE(logged_error_starting("Failed to load scheduler state: "));
    EXPECT_LE(scheduler.list_jobs().size(), 1u);
    EXPECT_EQ(scheduler.get_job("b"), nullptr);
    EXPECT_FALSE(fs::exists(state_path()));
    EXPECT_EQ(read_text(dir / "scheduler.json.corrupt-20250310-055930"), text);
  }
}

// Ten thousand jobs go through a save and a restart whole and in their order; every add saves
// the whole registry, so the file is written once by hand and then grown through the API.
TEST_F(BadInput, TenThousandJobsSurviveASaveAndARestart) {
  constexpr int COUNT = 10'000;
  {
    json jobs = json::object();
    for (int i = 0; i < COUNT - 1; ++i) {
      ScheduledJob job{.id = "job" + std::to_string(i),
                       .name = "n\xc3\xa9" + std::to_string(i),
                       .job_type = JobType::INTERVAL,
                       .interval_seconds = i,
                       .prompt = std::string(400, 'p'),
                       .run_count = i};
      auto stored = job.to_dict();
      stored["prompt"] = job.prompt;
      jobs[job.id] = stored;
    }
    write_text(state_path(), json{{"jobs", jobs}, {"executions", json::array()}}.dump());
  }
  std::string text;
  {
    Scheduler scheduler(nullptr, nullptr, state_path());
    ASSERT_EQ(scheduler.list_jobs().size(), std::size_t(COUNT - 1));
    scheduler.add_job(ScheduledJob{.id = "last", .job_type = JobType::ONCE, .next_run = START});
    text = read_text(state_path());
  }
  Scheduler restarted(nullptr, nullptr, state_path());
  EXPECT_EQ(restarted.stats()["total_jobs"], COUNT);
  for (int i = 0; i < COUNT - 1; i += 997) {
    const auto job = restarted.get_job("job" + std::to_string(i));
    ASSERT_NE(job, nullptr) << i;
    EXPECT_EQ(job->name, "n\xc3\xa9" + std::to_string(i));
    EXPECT_EQ(job->interval_seconds, i);
    EXPECT_EQ(job->run_count, i);
    EXPECT_EQ(job->prompt, std::string(400, 'p'));
  }
  restarted.pause_job("last");
  restarted.resume_job("last");
  EXPECT_EQ(read_text(state_path()), text);  // the same registry saves the same bytes
}

}  // namespace
}  // namespace orvane::scheduler::testing
