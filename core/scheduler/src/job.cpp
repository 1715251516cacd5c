#include "orvane/scheduler/job.hpp"

#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_generators.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "orvane/common/json_utf8.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/host/clock.hpp"
#include "local_tm.hpp"
#include "text.hpp"

namespace orvane::scheduler {
namespace {

using json = nlohmann::ordered_json;

constexpr std::string_view JOB_TYPES[] = {"cron", "interval", "once"};
constexpr std::string_view JOB_STATES[] = {"active", "paused", "completed", "disabled"};

[[noreturn]] void wrong_kind(std::string_view field, std::string_view expected, const json& value) {
  throw InvalidValueError("Invalid value for " + std::string(field) + ": expected " +
                          std::string(expected) + ", got " + value.type_name());
}

std::string text_value(std::string_view field, const json& value) {
  if (!value.is_string()) wrong_kind(field, "text", value);
  return value.get<std::string>();
}

std::int64_t integer_value(std::string_view field, const json& value) {
  if (value.is_number_unsigned()) {
    if (value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
      throw InvalidValueError("Invalid value for " + std::string(field) + ": out of range");
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    // 3600.0 is an integer written with a fraction; 1.5 is not one.
    const double d = value.get<double>();
    if (d == std::trunc(d) && std::abs(d) < 9.0e18) return static_cast<std::int64_t>(d);
  }
  wrong_kind(field, "an integer", value);
}

double number_value(std::string_view field, const json& value) {
  if (!value.is_number()) wrong_kind(field, "a number", value);
  return value.get<double>();
}

// Python's round(x, 2): the correctly rounded decimal, read back.
double round2(double x) {
  if (!std::isfinite(x)) return x;
  char text[400];
  std::snprintf(text, sizeof text, "%.2f", x);
  return std::strtod(text, nullptr);
}

}  // namespace

std::string valid_utf8(std::string_view text) {
  return common::replace_invalid_utf8(text);
}

std::string_view to_string(JobType type) {
  return JOB_TYPES[static_cast<int>(type)];
}
std::string_view to_string(JobState state) {
  return JOB_STATES[static_cast<int>(state)];
}

JobType job_type_from_string(std::string_view value) {
  for (int i = 0; i < 3; ++i) {
    if (JOB_TYPES[i] == value) return static_cast<JobType>(i);
  }
  throw InvalidValueError("'" + std::string(value) + "' is not a valid job_type");
}

JobState job_state_from_string(std::string_view value) {
  for (int i = 0; i < 4; ++i) {
    if (JOB_STATES[i] == value) return static_cast<JobState>(i);
  }
  throw InvalidValueError("'" + std::string(value) + "' is not a valid state");
}

std::string new_job_id() {
  thread_local boost::uuids::random_generator generator;
  std::string hex;
  for (const auto byte : generator()) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    hex += DIGITS[byte >> 4];
    hex += DIGITS[byte & 15];
    if (hex.size() >= 10) break;
  }
  return hex;
}

double now_seconds() {
  return host::clock().time();
}

std::string _format_timestamp(double ts) {
  if (ts == 0) return "Never";
  if (!std::isfinite(ts)) return "Invalid";
  // Sub-seconds round half to even to microseconds first, so 1.9999999 shows as second 2.
  double whole = std::floor(ts);
  if (std::nearbyint((ts - whole) * 1e6) >= 1e6) whole += 1;
  if (whole < -9.2e18 || whole > 9.2e18) return "Invalid";
  const auto seconds = static_cast<std::time_t>(whole);
  std::tm local{};
  if (!to_local_tm(seconds, local)) return "Invalid";
  const long year = local.tm_year + 1900L;
  if (year < 1 || year > 9999) return "Invalid";
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void check_metadata_depth(const json& metadata) {
  if (common::nests_deeper_than(metadata, METADATA_DEPTH)) {
    throw InvalidValueError("Invalid value for metadata: nested more than " +
                            std::to_string(METADATA_DEPTH) + " levels deep");
  }
}

std::string next_run_human(double next_run) {
  return next_run != 0 ? _format_timestamp(next_run) : "Not scheduled";
}

std::string last_run_human(double last_run) {
  return last_run != 0 ? _format_timestamp(last_run) : "Never";
}

json ScheduledJob::to_dict() const {
  json d = json::object();
  d["id"] = valid_utf8(id);
  d["name"] = valid_utf8(name);
  d["description"] = valid_utf8(description);
  d["job_type"] = to_string(job_type);
  d["schedule"] = valid_utf8(schedule);
  d["interval_seconds"] = interval_seconds;
  auto text = valid_utf8(prompt);
  d["prompt"] = common::length(text) > 300 ? common::cut(text, 300) + "..." : std::move(text);
  d["model_key"] = model_key ? json(valid_utf8(*model_key)) : json(nullptr);
  d["spawn_worker"] = spawn_worker;
  d["state"] = to_string(state);
  d["created_at"] = created_at;
  d["last_run"] = last_run;
  d["next_run"] = next_run;
  d["run_count"] = run_count;
  d["max_runs"] = max_runs;
  d["next_run_human"] = next_run_human(next_run);
  d["last_run_human"] = last_run_human(last_run);
  return d;
}

ScheduledJob ScheduledJob::from_dict(const json& data) {
  if (!data.is_object()) {
    throw InvalidValueError(std::string("A job must be a JSON object, got ") + data.type_name());
  }
  ScheduledJob job;
  for (const auto& [key, value] : data.items()) {
    if (key == "next_run_human" || key == "last_run_human") continue;
    job._set_field(key, value);
  }
  return job;
}

bool ScheduledJob::_set_field(std::string_view field, const json& value) {
  if (field == "id") {
    id = text_value(field, value);
  } else if (field == "name") {
    name = text_value(field, value);
  } else if (field == "description") {
    description = text_value(field, value);
  } else if (field == "job_type") {
    job_type = job_type_from_string(text_value(field, value));
  } else if (field == "schedule") {
    schedule = text_value(field, value);
  } else if (field == "interval_seconds") {
    interval_seconds = integer_value(field, value);
  } else if (field == "prompt") {
    prompt = text_value(field, value);
  } else if (field == "model_key") {
    model_key = value.is_null() ? std::nullopt : std::optional(text_value(field, value));
  } else if (field == "spawn_worker") {
    if (!value.is_boolean()) wrong_kind(field, "a boolean", value);
    spawn_worker = value.get<bool>();
  } else if (field == "state") {
    state = job_state_from_string(text_value(field, value));
  } else if (field == "created_at") {
    created_at = number_value(field, value);
  } else if (field == "last_run") {
    last_run = number_value(field, value);
  } else if (field == "next_run") {
    next_run = number_value(field, value);
  } else if (field == "run_count") {
    run_count = integer_value(field, value);
  } else if (field == "max_runs") {
    max_runs = integer_value(field, value);
  } else if (field == "metadata") {
    if (!value.is_object()) wrong_kind(field, "an object", value);
    check_metadata_depth(value);
    metadata = value;
  } else {
    return false;
  }
  return true;
}

json JobExecution::to_dict() const {
  json d = json::object();
  d["job_id"] = valid_utf8(job_id);
  d["job_name"] = valid_utf8(job_name);
  d["started_at"] = started_at;
  d["started_at_human"] = _format_timestamp(started_at);
  d["completed_at"] = completed_at;
  d["duration"] = round2(duration);
  d["success"] = success;
  auto text = valid_utf8(result);
  d["result"] = common::length(text) > 200 ? common::cut(text, 200) : std::move(text);
  d["error"] = valid_utf8(error);
  d["model_used"] = valid_utf8(model_used);
  d["worker_id"] = valid_utf8(worker_id);
  return d;
}

}  // namespace orvane::scheduler
