// Saves that cannot be made (a full disk, a read-only directory or file system): the operation
// goes on as if it had succeeded, the failure is logged as "Failed to save scheduler state: ...",
// and the state file keeps its previous bytes. Where the file can only be rewritten in place, it
// holds the new state whole or the old one, never a part.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "support/failing_storage.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::scheduler::JobType;
using orvane::scheduler::ScheduledJob;
using orvane::scheduler::Scheduler;
using orvane::testing::Trouble;

ScheduledJob interval_job(const std::string& id, const std::string& prompt) {
  return ScheduledJob{.id = id,
                      .name = id,
                      .job_type = JobType::INTERVAL,
                      .interval_seconds = 3600,
                      .prompt = prompt};
}

// Two jobs, the second paused.
void set_up(Scheduler& scheduler) {
  scheduler.add_job(interval_job("one", "first"));
  scheduler.add_job(interval_job("two", "second"));
  scheduler.pause_job("two");
}

struct Operation {
  const char* name;
  std::function<void(Scheduler&)> run;
  // What happens to the save under each trouble, in the order of ALL_TROUBLES: 'F' it fails,
  // 'S' it is made, '?' either, as the new bytes fit into the space the file already has or not.
  const char* saves;
};

const std::string BIG(5000, 'b');  // more than a page: a full disk has no room for it

const Operation OPERATIONS[] = {
    {"add_job", [](Scheduler& s) { s.add_job(interval_job("three", BIG)); }, "FFSFF"},
    {"update_job",
     [](Scheduler& s) {
       s.update_job("one", {{"prompt", BIG}});
     },
     "FFSFF"},
    {"remove_job", [](Scheduler& s) { s.remove_job("one"); }, "FFS?F"},
    {"pause_job", [](Scheduler& s) { s.pause_job("one"); }, "FFS?F"},
    {"resume_job", [](Scheduler& s) { s.resume_job("two"); }, "FFS?F"},
};

}  // namespace

TEST(FailingSave, OperationsCarryOnAndTheStateFileIsOldOrNewNeverTorn) {
  setenv("TZ", "UTC", 1);
  tzset();
  orvane::host::set_clock(std::make_shared<orvane::host::VirtualClock>(1741586370.0));
  for (const auto& operation : OPERATIONS) {
    // What the operation saves where nothing stands in its way.
    std::string saved;
    nlohmann::ordered_json listed;
    {
      orvane::testing::SmallDisk healthy;
      Scheduler scheduler(nullptr, nullptr, healthy.path / "scheduler.json");
      set_up(scheduler);
      operation.run(scheduler);
      saved = orvane::testing::snapshot(healthy.path).at("scheduler.json");
      listed = scheduler.list_jobs();
    }
    for (std::size_t t = 0; t < std::size(orvane::testing::ALL_TROUBLES); ++t) {
      const auto trouble = orvane::testing::ALL_TROUBLES[t];
      SCOPED_TRACE(std::string(operation.name) + ", " + to_string(trouble));
      orvane::testing::SmallDisk disk;
      const auto state_file = disk.path / "scheduler.json";
      Scheduler scheduler(nullptr, nullptr, state_file);
      set_up(scheduler);
      const auto before = orvane::testing::snapshot(disk.path).at("scheduler.json");
      if (!disk.begin(trouble, {disk.path})) {
        std::cout << "not here: " << to_string(trouble) << "\n";
        continue;
      }
      orvane::host::LogCapture logs;
      operation.run(scheduler);
      disk.end();

      EXPECT_EQ(scheduler.list_jobs(), listed);
      const auto files = orvane::testing::snapshot(disk.path);
      ASSERT_EQ(files.size(), 1u) << "files left beside the state file";
      const auto& after = files.at("scheduler.json");
      const bool made = after == saved;
      EXPECT_TRUE(made || after == before) << "a state file of " << after.size() << " bytes";
      if (operation.saves[t] != '?') {
        EXPECT_EQ(made, operation.saves[t] == 'S');
      }
      const auto records = logs.records("orvane.scheduler");
      int errors = 0;
      for (const auto& record : records) {
        if (record.level != spdlog::level::err) continue;
        ++errors;
        EXPECT_TRUE(record.message.starts_with("Failed to save scheduler state: "))
            << record.message;
      }
      EXPECT_EQ(errors, made ? 0 : 1);
    }
  }
  orvane::host::set_clock(nullptr);
}
