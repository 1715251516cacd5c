#pragma once
// Job and execution records and their dictionary forms.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "orvane/scheduler/error.hpp"

namespace orvane::scheduler {

enum class JobType { CRON, INTERVAL, ONCE };
enum class JobState { ACTIVE, PAUSED, COMPLETED, DISABLED };

// The text values ("cron", "active", ...) and back; an unknown text throws InvalidValueError.
std::string_view to_string(JobType type);
std::string_view to_string(JobState state);
JobType job_type_from_string(std::string_view value);
JobState job_state_from_string(std::string_view value);

// 10 lowercase hexadecimal digits taken from a new random (version 4) UUID.
std::string new_job_id();
// Seconds since the Unix epoch on the host clock.
double now_seconds();

// "%Y-%m-%d %H:%M:%S" in local time; "Never" for exactly 0, "Invalid" when the value cannot be
// shown as a local date-time.
std::string _format_timestamp(double ts);

// Definition of a scheduled job. Fields can be given by name:
//   ScheduledJob{.name = "news", .schedule = "0 6 * * *", .prompt = "..."}
struct ScheduledJob {
  std::string id = new_job_id();
  std::string name;
  std::string description;
  JobType job_type = JobType::CRON;
  std::string schedule;
  std::int64_t interval_seconds = 0;
  std::string prompt;
  std::optional<std::string> model_key;
  bool spawn_worker = true;
  JobState state = JobState::ACTIVE;
  double created_at = now_seconds();
  double last_run = 0.0;
  double next_run = 0.0;  // 0: not scheduled
  std::int64_t run_count = 0;
  std::int64_t max_runs = 0;  // 0 or less: no limit
  nlohmann::ordered_json metadata = nlohmann::ordered_json::object();

  // The 17-key dictionary form; the prompt is cut to 300 characters and metadata is left out.
  nlohmann::ordered_json to_dict() const;

  // A job from a dictionary form (or any object with field names as keys; other keys are
  // ignored). Throws InvalidValueError for a value of the wrong kind, an unknown enum text or
  // metadata nested more than 509 levels deep.
  static ScheduledJob from_dict(const nlohmann::ordered_json& data);

  // Sets one field from a JSON value, checked as from_dict checks it (enums as their texts).
  // Returns false when `field` names no field.
  bool _set_field(std::string_view field, const nlohmann::ordered_json& value);
};

// Record of a single job execution.
struct JobExecution {
  JobExecution(std::string job_id, std::string job_name, double started_at)
      : job_id(std::move(job_id)), job_name(std::move(job_name)), started_at(started_at) {}

  std::string job_id;
  std::string job_name;
  double started_at;
  double completed_at = 0.0;
  double duration = 0.0;
  bool success = false;
  std::string result;
  std::string error;
  std::string model_used;
  std::string worker_id;

  // The 11-key dictionary form; duration rounded to 2 places, result cut to 200 characters.
  nlohmann::ordered_json to_dict() const;
};

}  // namespace orvane::scheduler
