// The command's system parts, on Linux and under Wine alike: the scheduler lock and the history's
// durable append.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "durable_append.hpp"
#include "orvane/common/file_io.hpp"
#include "output.hpp"
#include "scheduler_lock.hpp"
#include "temp_directory.hpp"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

struct SystemParts : ::testing::Test {
  fs::path dir = make_temp_directory("orvane-system-parts-");
  ~SystemParts() override { fs::remove_all(dir); }
};

TEST_F(SystemParts, ASecondLockWaitsThenNamesTheAnnouncedRunner) {
  {
    SchedulerLock first(dir, milliseconds(0));
    EXPECT_FALSE(find_scheduler_runner(dir)) << "held, but not announced";
    first.announce_runner();
    const auto runner = find_scheduler_runner(dir);
    ASSERT_TRUE(runner);
    EXPECT_GT(runner->pid, 0);
    const auto started = std::chrono::steady_clock::now();
    try {
      SchedulerLock second(dir, milliseconds(200));
      FAIL() << "the lock was taken twice";
    } catch (const Failure& error) {
      EXPECT_NE(
          std::string(error.what())
              .find("(process " + std::to_string(runner->pid) + " runs 'orvane schedule run')"),
          std::string::npos)
          << error.what();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(200));
  }
  EXPECT_FALSE(find_scheduler_runner(dir)) << "released";
  SchedulerLock again(dir, milliseconds(0));
}

TEST_F(SystemParts, AppendedLinesStayWholeAfterATornOne) {
  const fs::path log = dir / "history.jsonl";
  const struct {
    const char* before;  // what the file held; nullptr: no file
    const char* after;
  } cases[] = {
      {nullptr, "{\"a\":1}\n"},
      {"", "{\"a\":1}\n"},
      {"{\"x\":0}\n", "{\"x\":0}\n{\"a\":1}\n"},
      {"{\"torn\":", "{\"torn\":\n{\"a\":1}\n"},
  };
  for (const auto& c : cases) {
    fs::remove(log);
    if (c.before) common::write_file_atomic(log, c.before);
    append_line_durably(log, "{\"a\":1}\n");
    EXPECT_EQ(common::read_file(log), c.after) << (c.before ? c.before : "(no file)");
  }
}

}  // namespace
}  // namespace orvane::app
