// A scheduler killed at random moments while it adds, updates and removes jobs: every next start
// loads the state file without a failure and with every change the killed process acknowledged.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "orvane/host/log.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "support/killed_child.hpp"

namespace {

namespace fs = std::filesystem;
using Jobs = std::map<std::string, std::string>;  // id -> the value its prompt starts with

struct Change {
  std::string verb, id, value;

  Jobs applied_to(Jobs jobs) const {
    if (verb == "remove") {
      jobs.erase(id);
    } else {
      jobs[id] = value;
    }
    return jobs;
  }
};

Change parse(const std::string& line) {
  Change change;
  std::istringstream(line) >> change.verb >> change.id >> change.value;
  return change;
}

// The jobs a fresh scheduler loads; fails the test when loading logs anything worse than info.
Jobs load(const fs::path& state_file) {
  orvane::host::LogCapture logs;
  orvane::scheduler::Scheduler scheduler(nullptr, nullptr, state_file);
  for (const auto& record : logs.records("orvane.scheduler")) {
    EXPECT_LE(record.level, spdlog::level::info) << record.message;
  }
  Jobs jobs;
  for (const auto& job : scheduler.list_jobs()) {
    const std::string id = job["id"];
    const auto& prompt = scheduler.get_job(id)->prompt;
    jobs[id] = prompt.substr(0, prompt.find(' '));
  }
  return jobs;
}

std::string describe(const Jobs& jobs) {
  std::string text;
  for (const auto& [id, value] : jobs) text += id + "=" + value + " ";
  return text;
}

}  // namespace

TEST(KilledScheduler, EveryStartLoadsTheWholeStateFileWithEveryAcknowledgedChange) {
  const int rounds = orvane::testing::kill_rounds(KILL_ROUNDS);
  const auto seed = orvane::testing::kill_seed();
  std::cout << "ORVANE_KILL_SEED=" << seed << ", " << rounds << " kills\n";
  std::mt19937_64 random(seed);
  char pattern[] = "/tmp/scheduler-kill-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const auto state_file = dir / "scheduler.json";

  Jobs jobs;
  int acknowledged = 0, in_flight_kept = 0, in_flight_lost = 0;
  for (int round = 0; round < rounds; ++round) {
    if (round % 50 == 0) {  // from an empty file now and then, so that it stays small
      fs::remove(state_file);
      jobs.clear();
    }
    const std::chrono::microseconds run_for(random() % 15000);
    const auto run =
        orvane::testing::run_and_kill({SCHEDULER_KILL_CHILD, state_file.string(),
                                       std::to_string(random()), "r" + std::to_string(round)},
                                      "ready", run_for);
    ASSERT_TRUE(run.killed) << "the child ended on its own in round " << round;

    std::optional<Change> pending;
    for (const auto& line : run.lines) {
      if (line != "ok") {
        pending = parse(line);
        continue;
      }
      ASSERT_TRUE(pending) << "an ok without a call";
      jobs = pending->applied_to(jobs);
      pending.reset();
      ++acknowledged;
    }

    const auto loaded = load(state_file);
    if (pending && loaded != jobs && loaded == pending->applied_to(jobs)) {
      ++in_flight_kept;
    } else {
      ASSERT_EQ(describe(loaded), describe(jobs))
          << "round " << round << ", killed " << run_for.count() << " us after start, during '"
          << (pending ? pending->verb + " " + pending->id : "nothing") << "'";
      if (pending) ++in_flight_lost;
    }
    jobs = loaded;
    for (const auto& entry : fs::directory_iterator(dir)) {
      ASSERT_EQ(entry.path().filename().string().find(".corrupt-"), std::string::npos)
          << "round " << round;
    }
  }
  std::cout << rounds << " kills, " << acknowledged
            << " acknowledged changes; the change under way "
            << "was kept " << in_flight_kept << " times, not yet made " << in_flight_lost
            << " times\n";
  fs::remove_all(dir);
}
