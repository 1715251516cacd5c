#include <gtest/gtest.h>

#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using spdlog::level::err;
using spdlog::level::info;
using spdlog::level::warn;

class StateFile : public SchedulerTest {
 protected:
  // The one error record whose message starts with `prefix`, or "" when there is none.
  std::string error_starting(const std::string& prefix) {
    for (const auto& record : logs.records("orvane.scheduler")) {
      if (record.level == err && record.message.rfind(prefix, 0) == 0) return record.message;
    }
    return "";
  }

  fs::path set_aside_path(const char* suffix = "") const {
    return dir / (std::string("scheduler.json.corrupt-20250310-055930") + suffix);
  }
};

TEST_F(StateFile, TextIsIndentedAsciiJsonWithJobsInRegistryOrder) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto cafe = std::make_shared<ScheduledJob>(ScheduledJob{
      .id = "a1", .name = "Caf\u00e9 \u2615", .schedule = "0 6 * * *", .prompt = "Read the news"});
  cafe->metadata["chat"] = 42;
  scheduler.add_job(cafe);
  scheduler.add_job(ScheduledJob{.id = "b2",
                                 .description = "hourly \U0001F600",
                                 .job_type = JobType::INTERVAL,
                                 .interval_seconds = 3600,
                                 .model_key = "fast",
                                 .spawn_worker = false,
                                 .max_runs = 3});
  EXPECT_EQ(read_text(state_path()), R"({
  "jobs": {
    "a1": {
      "id": "a1",
      "name": "Caf\u00e9 \u2615",
      "description": "",
      "job_type": "cron",
      "schedule": "0 6 * * *",
      "interval_seconds": 0,
      "prompt": "Read the news",
      "model_key": null,
      "spawn_worker": true,
      "state": "active",
      "created_at": 1741586370.0,
      "last_run": 0.0,
      "next_run": 1741586400.0,
      "run_count": 0,
      "max_runs": 0,
      "next_run_human": "2025-03-10 06:00:00",
      "last_run_human": "Never",
      "metadata": {
        "chat": 42
      }
    },
    "b2": {
      "id": "b2",
      "name": "",
      "description": "hourly \ud83d\ude00",
      "job_type": "interval",
      "schedule": "",
      "interval_seconds": 3600,
      "prompt": "",
      "model_key": "fast",
      "spawn_worker": false,
      "state": "active",
      "created_at": 1741586370.0,
      "last_run": 0.0,
      "next_run": 1741589970.0,
      "run_count": 0,
      "max_runs": 3,
      "next_run_human": "2025-03-10 06:59:30",
      "last_run_human": "Never",
      "metadata": {}
    }
  },
  "executions": []
})");
}

TEST_F(StateFile, RestartKeepsJobsWithTheirFullPromptsAndMetadata) {
  const std::string prompt = std::string(400, 'p') + "\u00e9";
  json before;
  {
    Scheduler scheduler(nullptr, nullptr, state_path());
    auto job = scheduler.add_job(
        ScheduledJob{.id = "long", .name = "n", .schedule = "*/5 * * * *", .prompt = prompt});
    job->metadata = {{"channel", "chat"}, {"nested", {{"a", json::array({1, 2.5, nullptr})}}}};
    scheduler.add_job(ScheduledJob{.id = "o", .job_type = JobType::ONCE, .next_run = START + 99});
    scheduler.update_job("long", {{"run_count", 2}, {"last_run", START - 60}});
    before = scheduler.list_jobs();
  }
  logs.clear();
  Scheduler restarted(nullptr, nullptr, state_path());
  EXPECT_TRUE(logs.contains(info, "Loaded 2 scheduled jobs"));
  const auto job = restarted.get_job("long");
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->prompt, prompt);
  EXPECT_EQ(job->metadata["nested"]["a"][1], 2.5);
  EXPECT_EQ(job->metadata["channel"], "chat");
  EXPECT_EQ(restarted.list_jobs(), before);  // next runs are kept, not recomputed
  EXPECT_EQ(restarted.stats()["total_executions"], 2);
  EXPECT_EQ(restarted.stats()["recent_executions"], 0);
}

TEST_F(StateFile, FilesWithoutMetadataAndWithCutPromptsStillLoad) {
  const std::string cut = std::string(300, 'x') + "...";
  write_text(state_path(), R"({"jobs": {"k": {"id": "j9", "name": "old", "job_type": "once",
    "prompt": ")" + cut + R"(", "next_run": 0, "next_run_human": "Not scheduled",
    "created_at": 5, "extra": true}}, "executions": [{"job_id": "j9"}]})");
  Scheduler scheduler(nullptr, nullptr, state_path());
  const auto job = scheduler.get_job("j9");  // stored under its own id, not the member name
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->prompt, cut);
  EXPECT_TRUE(job->metadata.empty());
  EXPECT_EQ(job->created_at, 5);
  EXPECT_EQ(scheduler.list_executions(0).size(), 0u);
  EXPECT_TRUE(logs.contains(info, "Loaded 1 scheduled jobs"));
  EXPECT_FALSE(fs::exists(set_aside_path()));
}

TEST_F(StateFile, CorruptFileIsSetAsideAndNotOverwritten) {
  const std::string garbage = "{\"jobs\": {\"a\": ";
  write_text(state_path(), garbage);
  Scheduler scheduler(nullptr, nullptr, state_path());
  EXPECT_TRUE(scheduler.list_jobs().empty());
  EXPECT_NE(error_starting("Failed to load scheduler state: "), "");
  EXPECT_TRUE(
      logs.contains(warn, "Unreadable scheduler state set aside as " + set_aside_path().string()));
  EXPECT_EQ(read_text(set_aside_path()), garbage);

  scheduler.add_job(ScheduledJob{.id = "new", .job_type = JobType::ONCE});
  EXPECT_EQ(read_text(set_aside_path()), garbage);
  EXPECT_TRUE(state_file()["jobs"].contains("new"));

  // A second failure in the same second does not replace the first copy.
  write_text(state_path(), "[]");
  Scheduler again(nullptr, nullptr, state_path());
  EXPECT_EQ(read_text(set_aside_path()), garbage);
  EXPECT_EQ(read_text(set_aside_path(".1")), "[]");
  EXPECT_FALSE(fs::exists(state_path()));
}

TEST_F(StateFile, UnknownStateLoadsTheJobsBeforeItAndKeepsTheFile) {
  const std::string text = R"({"jobs": {
    "a": {"id": "a", "name": "first", "state": "paused"},
    "b": {"id": "b", "state": "sleeping"},
    "c": {"id": "c"}}})";
  write_text(state_path(), text);
  Scheduler scheduler(nullptr, nullptr, state_path());
  EXPECT_EQ(scheduler.list_jobs().size(), 1u);
  EXPECT_EQ(scheduler.get_job("a")->state, JobState::PAUSED);
  EXPECT_TRUE(
      logs.contains(err, "Failed to load scheduler state: 'sleeping' is not a valid state"));
  EXPECT_FALSE(logs.contains(info, "Loaded 1 scheduled jobs"));

  scheduler.pause_job("a");  // saves the one job it has
  EXPECT_EQ(state_file()["jobs"].size(), 1u);
  EXPECT_EQ(read_text(set_aside_path()), text);
}

TEST_F(StateFile, OtherShapesThatCannotBeReadAreSetAside) {
  for (const char* text : {"[1, 2]", R"({"jobs": []})", R"({"jobs": {"a": "text"}})",
                           R"({"jobs": {"a": {"interval_seconds": "60"}}})", ""}) {
    write_text(state_path(), text);
    logs.clear();
    Scheduler scheduler(nullptr, nullptr, state_path());
    EXPECT_TRUE(scheduler.list_jobs().empty()) << text;
    EXPECT_NE(error_starting("Failed to load scheduler state: "), "") << text;
    EXPECT_FALSE(fs::exists(state_path())) << text;
  }
  write_text(state_path(), R"({"executions": []})");
  Scheduler empty(nullptr, nullptr, state_path());
  EXPECT_TRUE(logs.contains(info, "Loaded 0 scheduled jobs"));
}

TEST_F(StateFile, JobTextsThatAreNotUtf8DoNotStopTheSaves) {
  Scheduler scheduler(nullptr, nullptr, state_path());
  auto job = std::make_shared<ScheduledJob>(
      ScheduledJob{.id = "j", .name = "n\xff", .job_type = JobType::ONCE, .prompt = "p\xc3"});
  scheduler.add_job(ScheduledJob{.id = "i\xff", .job_type = JobType::ONCE});
  job->metadata = {{"k\xfe", {"v\xe2\x82", 1}}};
  scheduler.add_job(job);
  EXPECT_EQ(error_starting("Failed to save scheduler state: "), "");
  const auto stored = state_file()["jobs"]["j"];
  EXPECT_EQ(stored["name"], "n\ufffd");
  EXPECT_EQ(stored["prompt"], "p\ufffd");
  EXPECT_EQ(stored["metadata"], json({{"k\ufffd", {"v\ufffd", 1}}}));
  EXPECT_EQ(scheduler.list_jobs()[1]["name"], "n\ufffd");
  EXPECT_EQ(state_file()["jobs"]["i\ufffd"]["id"], "i\ufffd");
}

TEST_F(StateFile, AFailedSaveIsLoggedAndTheOperationGoesOn) {
  write_text(dir / "plain-file", "x");
  Scheduler scheduler(nullptr, nullptr, dir / "plain-file" / "scheduler.json");
  auto job = scheduler.add_job(ScheduledJob{.id = "j", .job_type = JobType::ONCE});
  EXPECT_EQ(scheduler.get_job("j"), job);
  EXPECT_NE(error_starting("Failed to save scheduler state: "), "");
  EXPECT_TRUE(scheduler.remove_job("j"));
}

}  // namespace
}  // namespace orvane::scheduler::testing
