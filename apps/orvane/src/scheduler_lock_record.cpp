#include "scheduler_lock_record.hpp"

#include <chrono>

namespace orvane::app {

std::filesystem::path scheduler_lock_file(const std::filesystem::path& data_dir) {
  return data_dir / "scheduler.lock";
}

std::string runner_record(long pid) {
  const auto now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
  return Json{{"pid", pid}, {"started_at", now.count()}}.dump() + '\n';
}

std::optional<SchedulerRunner> parse_runner_record(const std::string& text) {
  const Json record = Json::parse(text, nullptr, false);
  if (!record.is_object() || !record.contains("pid") || !record["pid"].is_number_integer()) {
    return std::nullopt;
  }
  const long pid = record["pid"].get<long>();
  if (pid <= 0) return std::nullopt;
  const auto started = record.find("started_at");
  return SchedulerRunner{
      pid, started != record.end() && started->is_number() ? started->get<double>() : 0.0};
}

Failure lock_in_use(const std::filesystem::path& data_dir) {
  std::string holder = " (is 'orvane schedule run' running?)";
  if (const auto runner = find_scheduler_runner(data_dir)) {
    holder = " (process " + std::to_string(runner->pid) + " runs 'orvane schedule run')";
  }
  return Failure("the scheduler state in " + data_dir.string() +
                 " is in use by another orvane process" + holder);
}

}  // namespace orvane::app
