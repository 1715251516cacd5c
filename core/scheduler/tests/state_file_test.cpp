#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

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
  for (const char* text :
       {"[1, 2]", R"({"jobs": []})", R"({"jobs": {"a": "text"}})",
        R"({"jobs": {"a": {"interval_seconds": "60"}}})", "",
        // Python reads NaN, Infinity and -Infinity, and no other spelling
        R"({"jobs": {"a": {"next_run": -NaN}}})", R"({"jobs": {"a": {"next_run": infinity}}})"}) {
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

// NaN and the infinities are doubles but not JSON: none of them may make the saved file
// unreadable, and files that Python wrote with them must still load.
TEST_F(StateFile, TimesThatAreNotFiniteNeverCostTheJobs) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::map<std::string, double ScheduledJob::*> fields = {
      {"next_run", &ScheduledJob::next_run},
      {"last_run", &ScheduledJob::last_run},
      {"created_at", &ScheduledJob::created_at}};
  for (const auto& [field, member] : fields) {
    for (const double value : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
      SCOPED_TRACE(field + " = " + std::to_string(value));
      fs::remove(state_path());
      logs.clear();
      {
        Scheduler scheduler(nullptr, nullptr, state_path());
        auto job = scheduler.add_job(
            ScheduledJob{.id = "set", .job_type = JobType::ONCE, .next_run = START + 60});
        const auto text = read_text(state_path());
        const auto listed = scheduler.list_jobs();
        EXPECT_THROW(scheduler.update_job("set", {{field, value}, {"name", "x"}}),
                     InvalidValueError);
        EXPECT_EQ(scheduler.list_jobs(), listed);
        EXPECT_EQ(read_text(state_path()), text);

        // By the other roads the value reaches the registry, and is saved as 0.
        ScheduledJob added{.id = "added", .job_type = JobType::ONCE};
        added.*member = value;
        scheduler.add_job(added);
        (*job).*member = value;  // the host writes to the registered job
        scheduler.pause_job("set");
        for (const char* id : {"added", "set"}) {
          EXPECT_TRUE(logs.contains(err, std::string("Job ") + id + ": " + field +
                                             " is not a finite number; saved as 0"));
          EXPECT_EQ(state_file()["jobs"][id][field], 0.0);  // plain JSON, no bare token
        }
      }
      Scheduler restarted(nullptr, nullptr, state_path());
      EXPECT_EQ(restarted.list_jobs().size(), 2u);
    }
  }

  write_text(state_path(), R"({"jobs": {"py": {"id": "py", "name": "NaN \"Infinity\" -Infinity\\",
    "job_type": "once", "next_run": NaN, "last_run": Infinity, "created_at": -Infinity,
    "metadata": {"NaN": [NaN, -Infinity, "Infinity"]}}}})");
  logs.clear();
  Scheduler from_python(nullptr, nullptr, state_path());
  EXPECT_TRUE(logs.contains(info, "Loaded 1 scheduled jobs"));
  const auto job = from_python.get_job("py");
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->name, "NaN \"Infinity\" -Infinity\\");
  EXPECT_TRUE(std::isnan(job->next_run));
  EXPECT_EQ(job->last_run, inf);
  EXPECT_EQ(job->created_at, -inf);
  const auto& values = job->metadata["NaN"];
  EXPECT_TRUE(std::isnan(values[0].get<double>()));
  EXPECT_EQ(values[1], -inf);
  EXPECT_EQ(values[2], "Infinity");
}

// Copying, comparing and writing JSON recurse once per level: metadata deeper than the state
// file can hold is refused on the way in, and a file nested too deep is unreadable, not a crash.
TEST_F(StateFile, NestingPastTheLimitIsRefusedNeverOverflowsTheStack) {
  // Arrays nested `depth` levels deep (an object at the top), built without recursion.
  const auto nested = [](int depth) {
    json top = json::object();
    json* inner = &top["k"];
    *inner = json::array();
    for (int level = 2; level < depth; ++level) inner = &inner->emplace_back(json::array());
    return top;
  };
  Scheduler scheduler(nullptr, nullptr, state_path());
  // The metadata object sits three levels deep in the file (the file, "jobs", the job), so it
  // may nest 509 levels for the file to stay within 512.
  auto job = scheduler.add_job(
      ScheduledJob{.id = "deepest", .job_type = JobType::ONCE, .metadata = nested(509)});
  for (const int depth : {510, 100'000}) {
    SCOPED_TRACE(depth);
    EXPECT_THROW(scheduler.add_job(ScheduledJob{.id = "deeper", .metadata = nested(depth)}),
                 InvalidValueError);
    EXPECT_EQ(scheduler.get_job("deeper"), nullptr);
    json updates = json::object();
    updates["metadata"] = nested(depth);
    EXPECT_THROW(scheduler.update_job("deepest", updates), InvalidValueError);
    EXPECT_THROW(ScheduledJob::from_dict(updates), InvalidValueError);
  }
  EXPECT_EQ(scheduler.get_job("deepest")->metadata, nested(509));
  {
    Scheduler restarted(nullptr, nullptr, state_path());
    EXPECT_EQ(restarted.get_job("deepest")->metadata, nested(509));
  }

  // The host writes to the registered job: the save keeps every job, without that metadata.
  job->metadata = nested(100'000);
  scheduler.update_job("deepest", {{"name", "renamed"}});
  EXPECT_TRUE(
      logs.contains(err, "Job deepest: metadata nests more than 509 levels deep; saved as {}"));
  EXPECT_EQ(state_file()["jobs"]["deepest"]["name"], "renamed");
  EXPECT_EQ(state_file()["jobs"]["deepest"]["metadata"], json::object());

  write_text(state_path(), R"({"jobs": {"a": {"id": "a", "metadata": {"k": )" +
                               std::string(100'000, '[') + std::string(100'000, ']') + "}}}}");
  logs.clear();
  Scheduler unreadable(nullptr, nullptr, state_path());
  EXPECT_TRUE(unreadable.list_jobs().empty());
  EXPECT_EQ(error_starting("Failed to load scheduler state: "),
            "Failed to load scheduler state: JSON nested more than 512 levels deep");
  EXPECT_TRUE(fs::exists(set_aside_path()));
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
