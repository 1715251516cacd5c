#include "orvane/scheduler/job.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>

#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

std::vector<std::string> keys_of(const json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

std::string repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

class JobRecords : public SchedulerTest {};

TEST_F(JobRecords, ANewJobHasTheDefaultsAndItsOwnIdAndMetadata) {
  ScheduledJob job;
  EXPECT_TRUE(std::regex_match(job.id, std::regex("[0-9a-f]{10}"))) << job.id;
  EXPECT_EQ(job.job_type, JobType::CRON);
  EXPECT_EQ(job.state, JobState::ACTIVE);
  EXPECT_TRUE(job.spawn_worker);
  EXPECT_FALSE(job.model_key);
  EXPECT_EQ(job.created_at, START);
  EXPECT_TRUE(job.metadata.is_object() && job.metadata.empty());

  const json d = job.to_dict();
  EXPECT_EQ(keys_of(d),
            (std::vector<std::string>{"id", "name", "description", "job_type", "schedule",
                                      "interval_seconds", "prompt", "model_key", "spawn_worker",
                                      "state", "created_at", "last_run", "next_run", "run_count",
                                      "max_runs", "next_run_human", "last_run_human"}));
  EXPECT_EQ(d["job_type"], "cron");
  EXPECT_EQ(d["state"], "active");
  EXPECT_TRUE(d["model_key"].is_null());
  EXPECT_EQ(d["next_run_human"], "Not scheduled");
  EXPECT_EQ(d["last_run_human"], "Never");

  ScheduledJob other;
  other.metadata["k"] = 1;
  EXPECT_NE(job.id, other.id);
  EXPECT_TRUE(job.metadata.empty());
}

TEST_F(JobRecords, PromptIsCutAt300AndResultAt200CodePoints) {
  // Two-byte characters, so that a byte count would cut in the wrong place.
  ScheduledJob job{.prompt = repeat("\u00e9", 300)};
  EXPECT_EQ(job.to_dict()["prompt"], job.prompt);
  job.prompt += "x";
  EXPECT_EQ(job.to_dict()["prompt"], repeat("\u00e9", 300) + "...");

  JobExecution execution("a", "b", START);
  execution.result = repeat("\u00fc", 200);
  EXPECT_EQ(execution.to_dict()["result"], execution.result);
  execution.result += "\U0001F600";
  EXPECT_EQ(execution.to_dict()["result"], repeat("\u00fc", 200));
}

TEST_F(JobRecords, TextsThatAreNotUtf8AreShownWithReplacementCharacters) {
  // Each maximal invalid sequence becomes one U+FFFD: a cut three-byte character, a stray
  // continuation byte, an encoded surrogate, a byte that never starts a character.
  ScheduledJob job{.name = "a\xe2\x82z",
                   .prompt = "\x80\xed\xa0\x80" + std::string(299, 'p') + "\xff"};
  job.model_key = "m\xc3";
  const json d = job.to_dict();
  EXPECT_EQ(d["name"], "a\ufffdz");
  EXPECT_EQ(d["model_key"], "m\ufffd");
  // 1 + 3 + 299 replacement and plain characters: cut after 300 of them.
  EXPECT_EQ(d["prompt"], "\ufffd\ufffd\ufffd\ufffd" + std::string(296, 'p') + "...");

  JobExecution execution("j\xf0\x9f", "n", START);
  execution.result = std::string(199, 'r') + "\xf4\x90\x80\x80";  // beyond U+10FFFF
  execution.error = "e\xc0\xafx";                                 // an overlong "/"
  const json e = execution.to_dict();
  EXPECT_EQ(e["job_id"], "j\ufffd");
  EXPECT_EQ(e["result"], std::string(199, 'r') + "\ufffd");
  EXPECT_EQ(e["error"], "e\ufffd\ufffdx");
}

TEST_F(JobRecords, ExecutionDictionaryRoundsTheDurationAndShowsTheStart) {
  JobExecution execution("j1", "news", utc(2025, 3, 10, 6, 0, 5));
  execution.completed_at = execution.started_at + 1.23456;
  execution.duration = 1.23456;
  execution.success = true;
  const json d = execution.to_dict();
  EXPECT_EQ(keys_of(d), (std::vector<std::string>{
                            "job_id", "job_name", "started_at", "started_at_human", "completed_at",
                            "duration", "success", "result", "error", "model_used", "worker_id"}));
  EXPECT_EQ(d["started_at_human"], "2025-03-10 06:00:05");
  EXPECT_EQ(d["duration"].get<double>(), 1.23);
  execution.duration = 0.125;  // an exact tie rounds to even
  EXPECT_EQ(execution.to_dict()["duration"].get<double>(), 0.12);
  execution.duration = 2.675;  // stored just below 2.675
  EXPECT_EQ(execution.to_dict()["duration"].get<double>(), 2.67);
}

TEST_F(JobRecords, TimestampsShowLocalTimeOrNeverOrInvalid) {
  EXPECT_EQ(_format_timestamp(0), "Never");
  EXPECT_EQ(_format_timestamp(utc(2025, 3, 10, 6, 0)), "2025-03-10 06:00:00");
  EXPECT_EQ(_format_timestamp(utc(2025, 3, 10, 6, 0) + 0.9999997), "2025-03-10 06:00:01");
  EXPECT_EQ(_format_timestamp(-1.5), "1969-12-31 23:59:58");
  EXPECT_EQ(_format_timestamp(1e20), "Invalid");
  EXPECT_EQ(_format_timestamp(utc(9999, 12, 31, 23, 59, 59) + 1), "Invalid");
  EXPECT_EQ(_format_timestamp(std::nan("")), "Invalid");
  EXPECT_EQ(_format_timestamp(std::numeric_limits<double>::infinity()), "Invalid");
  set_time_zone("Asia/Kolkata");
  EXPECT_EQ(_format_timestamp(utc(2025, 3, 10, 6, 0)), "2025-03-10 11:30:00");
}

TEST_F(JobRecords, FromDictReadsItsOwnDictionaryForm) {
  ScheduledJob job{.name = "n",
                   .job_type = JobType::INTERVAL,
                   .interval_seconds = 60,
                   .prompt = "p",
                   .model_key = "fast",
                   .spawn_worker = false,
                   .state = JobState::PAUSED,
                   .created_at = 100.5,
                   .last_run = 200.25,
                   .next_run = 260.25,
                   .run_count = 3,
                   .max_runs = 5};
  job.metadata["keep"] = "me";
  const json d = job.to_dict();
  const auto back = ScheduledJob::from_dict(d);
  EXPECT_EQ(back.to_dict(), d);
  EXPECT_TRUE(back.metadata.empty());
  EXPECT_EQ(back.model_key, "fast");

  json minimal = {{"id", "abc"}, {"name", "x"}, {"unknown", 1}, {"next_run", 0}};
  const auto made = ScheduledJob::from_dict(minimal);
  EXPECT_EQ(made.id, "abc");
  EXPECT_EQ(made.job_type, JobType::CRON);
  EXPECT_EQ(made.state, JobState::ACTIVE);
  EXPECT_EQ(made.created_at, START);
  EXPECT_EQ(made.next_run, 0);
  EXPECT_TRUE(
      std::regex_match(ScheduledJob::from_dict(json::object()).id, std::regex("[0-9a-f]{10}")));
}

TEST_F(JobRecords, FromDictRefusesUnknownEnumTextsAndValuesOfTheWrongKind) {
  const auto message = [](const json& data) -> std::string {
    try {
      ScheduledJob::from_dict(data);
    } catch (const InvalidValueError& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message({{"job_type", "weekly"}}), "'weekly' is not a valid job_type");
  EXPECT_EQ(message({{"state", "sleeping"}}), "'sleeping' is not a valid state");
  EXPECT_EQ(message({{"interval_seconds", "60"}}),
            "Invalid value for interval_seconds: expected an integer, got string");
  EXPECT_EQ(message({{"interval_seconds", 1.5}}),
            "Invalid value for interval_seconds: expected an integer, got number");
  EXPECT_EQ(message({{"spawn_worker", 1}}),
            "Invalid value for spawn_worker: expected a boolean, got number");
  EXPECT_EQ(message({{"next_run", "soon"}}),
            "Invalid value for next_run: expected a number, got string");
  EXPECT_EQ(message({{"metadata", json::array()}}),
            "Invalid value for metadata: expected an object, got array");
  EXPECT_EQ(message({{"job_type", 1}}), "Invalid value for job_type: expected text, got number");
  EXPECT_EQ(message("text"), "A job must be a JSON object, got string");
  EXPECT_EQ(message({{"interval_seconds", 3600.0}, {"model_key", nullptr}}), "accepted");
}

}  // namespace
}  // namespace orvane::scheduler::testing
