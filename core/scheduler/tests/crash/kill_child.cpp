// Adds, updates and removes jobs in a loop until it is killed. Before each call it prints the call
// ("add ID VALUE", "update ID VALUE", "remove ID"), after the call returned "ok"; the job's prompt
// is VALUE, a space and padding that makes the state file large enough to be caught mid-write.
//
//   scheduler_kill_child STATE_FILE SEED TAG
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "orvane/host/log.hpp"
#include "orvane/scheduler/scheduler.hpp"

namespace {

void say(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(STDOUT_FILENO, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::_Exit(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvane::scheduler;
  if (argc != 4) return 2;
  std::mt19937_64 random(std::stoull(argv[2]));
  const std::string tag = argv[3];
  const std::string padding(600, '.');

  orvane::host::set_level(spdlog::level::warn);  // only failures on standard error
  Scheduler scheduler(nullptr, nullptr, std::filesystem::path(argv[1]));
  std::vector<std::string> ids;
  for (const auto& job : scheduler.list_jobs()) ids.push_back(job["id"]);
  say("ready");

  for (std::uint64_t i = 0;; ++i) {
    const auto value = tag + "." + std::to_string(i);
    const auto pick = random() % 10;
    if (ids.size() < 3 || (pick < 4 && ids.size() < 40)) {
      const auto id = "job-" + value;
      say("add " + id + " " + value);
      scheduler.add_job(ScheduledJob{.id = id,
                                     .name = "job " + value,
                                     .job_type = JobType::INTERVAL,
                                     .interval_seconds = 60 + static_cast<std::int64_t>(i),
                                     .prompt = value + " " + padding});
      ids.push_back(id);
    } else if (pick < 8) {
      const auto& id = ids[random() % ids.size()];
      say("update " + id + " " + value);
      scheduler.update_job(id, {{"prompt", value + " " + padding}, {"interval_seconds", 90}});
    } else {
      const auto at = random() % ids.size();
      say("remove " + ids[at]);
      scheduler.remove_job(ids[at]);
      ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(at));
    }
    say("ok");
  }
}
