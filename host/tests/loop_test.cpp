#include "orvane/host/loop.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <boost/asio/io_context.hpp>
#include <stdexcept>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"

using namespace orvane::host;
namespace host = orvane::host;
namespace asio = boost::asio;

namespace {

// Each test runs on its own loop with a virtual clock starting at a fixed instant.
struct LoopTest : ::testing::Test {
  asio::io_context io;
  std::shared_ptr<VirtualClock> vclock = std::make_shared<VirtualClock>(1'700'000'000.0);
  void SetUp() override { set_clock(vclock); }
  void TearDown() override { set_clock(nullptr); }
};

}  // namespace

TEST_F(LoopTest, NamedTaskStartsAtNextSuspensionAndIsListedUntilItEnds) {
  bool ran = false;
  auto task = spawn(io.get_executor(), "scheduler", run_owned([&]() -> asio::awaitable<void> {
                      ran = true;
                      co_await host::sleep(30);
                    }));
  EXPECT_FALSE(ran);
  EXPECT_EQ(live_task_names(), std::vector<std::string>{"scheduler"});
  vclock->run_for(io, 10);
  EXPECT_TRUE(ran);
  EXPECT_FALSE(task->done());
  vclock->run_for(io, 25);
  EXPECT_TRUE(task->done());
  EXPECT_FALSE(task->cancelled());
  EXPECT_TRUE(live_task_names().empty());

  // Spawned from a task on the loop's own thread, where co_spawn alone would run it inline.
  std::vector<std::string> steps;
  spawn(io.get_executor(), "outer", run_owned([&]() -> asio::awaitable<void> {
          spawn(co_await current_executor(), "inner", run_owned([&]() -> asio::awaitable<void> {
                  steps.push_back("inner");
                  co_return;
                }));
          steps.push_back("outer goes on");
          co_await host::sleep(1);
          steps.push_back("outer resumed");
        }));
  vclock->run_for(io, 5);
  EXPECT_EQ(steps, (std::vector<std::string>{"outer goes on", "inner", "outer resumed"}));
}

TEST_F(LoopTest, VirtualHourOfSleepsPassesInstantly) {
  int passes = 0;
  double last = 0;
  auto task = spawn(io.get_executor(), "ticker", run_owned([&]() -> asio::awaitable<void> {
                      for (;;) {
                        ++passes;
                        last = host::clock().time();
                        co_await host::sleep(30);
                      }
                    }));
  vclock->run_for(io, 3600);
  EXPECT_EQ(passes, 121);  // t = 0, 30, ..., 3600
  EXPECT_DOUBLE_EQ(last, 1'700'000'000.0 + 3600);
  EXPECT_DOUBLE_EQ(vclock->time(), 1'700'003'600.0);
  task->cancel();
  vclock->poll(io);
  EXPECT_TRUE(task->cancelled());
}

TEST_F(LoopTest, CancelEndsThePendingWaitAndTheAwaiterSeesCancellation) {
  bool cleanup_ran = false;
  auto sleeper = spawn(io.get_executor(), "job-1", run_owned([&]() -> asio::awaitable<void> {
                         try {
                           co_await host::sleep(3600);
                         } catch (const boost::system::system_error& e) {
                           cleanup_ran = is_cancellation(e);
                           throw;
                         }
                       }));
  bool awaiter_saw_cancel = false;
  double cancelled_at = 0;
  spawn(io.get_executor(), "stopper", run_owned([&]() -> asio::awaitable<void> {
          co_await host::sleep(5);
          sleeper->cancel();
          try {
            co_await sleeper->wait();
          } catch (const std::exception& e) {
            awaiter_saw_cancel = is_cancellation(e);
            cancelled_at = host::clock().time();
          }
        }));
  vclock->run_for(io, 60);
  EXPECT_TRUE(cleanup_ran);
  EXPECT_TRUE(awaiter_saw_cancel);
  EXPECT_DOUBLE_EQ(cancelled_at, 1'700'000'005.0);
  EXPECT_TRUE(sleeper->cancelled());
}

TEST_F(LoopTest, CancelBeforeTheFirstStepNeverRunsTheBody) {
  bool ran = false;
  auto task = spawn(io.get_executor(), "early", run_owned([&]() -> asio::awaitable<void> {
                      ran = true;
                      co_return;
                    }));
  task->cancel();
  vclock->poll(io);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(task->cancelled());
}

TEST_F(LoopTest, CancellingTheAwaiterLeavesTheAwaitedTaskRunning) {
  auto worker = spawn(io.get_executor(), "worker",
                      run_owned([]() -> asio::awaitable<void> { co_await host::sleep(100); }));
  auto awaiter = spawn(io.get_executor(), "awaiter",
                       run_owned([&]() -> asio::awaitable<void> { co_await worker->wait(); }));
  vclock->run_for(io, 10);
  awaiter->cancel();
  vclock->run_for(io, 1);
  EXPECT_TRUE(awaiter->cancelled());
  EXPECT_FALSE(worker->done());
  vclock->run_for(io, 100);
  EXPECT_TRUE(worker->done());
  EXPECT_FALSE(worker->error());
}

TEST_F(LoopTest, FailureNobodyAwaitsIsLoggedAndAwaitedFailureIsRethrown) {
  LogCapture capture;
  spawn(io.get_executor(), "job-abc", run_owned([]() -> asio::awaitable<void> {
          co_await host::sleep(1);
          throw std::runtime_error("event sink down");
        }));
  auto watched = spawn(io.get_executor(), "watched", run_owned([]() -> asio::awaitable<void> {
                         co_await host::sleep(1);
                         throw std::logic_error("seen");
                       }));
  std::string seen;
  spawn(io.get_executor(), "watcher", run_owned([&]() -> asio::awaitable<void> {
          try {
            co_await watched->wait();
          } catch (const std::logic_error& e) {
            seen = e.what();
          }
        }));
  vclock->run_for(io, 5);
  EXPECT_EQ(seen, "seen");
  const auto host_records = capture.records("orvane.host");
  ASSERT_EQ(host_records.size(), 1u);
  EXPECT_EQ(host_records[0].level, spdlog::level::err);
  EXPECT_EQ(host_records[0].message, "Task job-abc failed");
  EXPECT_EQ(host_records[0].trace, "std::runtime_error: event sink down");
}

TEST_F(LoopTest, EventWaitReportsTimeOutOrSetAtTheRightVirtualTime) {
  Event stop;
  std::vector<std::pair<bool, double>> results;
  spawn(io.get_executor(), "waiter", run_owned([&]() -> asio::awaitable<void> {
          results.emplace_back(co_await stop.wait(30.0), host::clock().time());
          results.emplace_back(co_await stop.wait(30.0), host::clock().time());
          co_await stop.wait();  // already set: returns at once
          results.emplace_back(false, host::clock().time());
        }));
  spawn(io.get_executor(), "setter", run_owned([&]() -> asio::awaitable<void> {
          co_await host::sleep(40);
          stop.set();
          stop.clear();  // a waiter woken by set() still reports it
          stop.set();
        }));
  vclock->run_for(io, 100);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0], std::make_pair(true, 1'700'000'030.0));
  EXPECT_EQ(results[1], std::make_pair(false, 1'700'000'040.0));
  EXPECT_EQ(results[2].second, 1'700'000'040.0);
  EXPECT_TRUE(stop.is_set());
  EXPECT_EQ(vclock->pending_alarms(), 0u);  // the abandoned time-out left no alarm behind
}

TEST(SystemClockTest, RealSleepAndEventTimeOutWork) {
  asio::io_context io;
  Event never;
  bool timed_out = false;
  const double start = host::clock().time();
  double slept = 0;
  spawn(io.get_executor(), "real", run_owned([&]() -> asio::awaitable<void> {
          co_await host::sleep(0.05);
          slept = host::clock().time() - start;
          timed_out = co_await never.wait(0.05);
        }));
  io.run();
  EXPECT_GE(slept, 0.045);
  EXPECT_TRUE(timed_out);
}

TEST(ClockLocalTime, MatchesTheSystemLocalTimeWithMicroseconds) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  VirtualClock vc(1'719'835'200.25);  // 2024-07-01 12:00:00.25 UTC, summer time in Berlin
  using namespace std::chrono;
  const auto expected = local_days{2024y / July / 1} + 14h + 250000us;
  EXPECT_EQ(vc.local_now(), expected);
  if (old)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}
