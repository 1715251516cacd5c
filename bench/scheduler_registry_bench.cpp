// add_job into a registry of 1000 jobs (one atomic save each) and one loop pass over 10000 jobs.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <fstream>

#include "orvane/common/json_text.hpp"
#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/scheduler/scheduler.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::scheduler::JobType;
using orvane::scheduler::ScheduledJob;
using orvane::scheduler::Scheduler;
namespace host = orvane::host;

constexpr double NOW = 1741586370.0;

// A state directory holding `count` jobs, none due for years (every benchmark iteration moves the
// clock), written at once rather than through `count` saves.
fs::path make_state(int count, JobType type) {
  char pattern[] = "/tmp/scheduler-bench-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  nlohmann::ordered_json jobs = nlohmann::ordered_json::object();
  for (int i = 0; i < count; ++i) {
    ScheduledJob job{.id = "job" + std::to_string(i),
                     .name = "job " + std::to_string(i),
                     .job_type = type,
                     .schedule = "*/5 * * * *",
                     .interval_seconds = 3600,
                     .prompt = "Summarise the news of the day",
                     .next_run = NOW + 3e8};
    jobs["job" + std::to_string(i)] = job.to_dict();
  }
  nlohmann::ordered_json root = {{"jobs", jobs}, {"executions", nlohmann::ordered_json::array()}};
  std::ofstream(dir / "scheduler.json") << orvane::common::dump_python_json(root);
  return dir;
}

void BM_AddJobInto1000(benchmark::State& state) {
  host::set_level(spdlog::level::warn);
  host::set_clock(std::make_shared<host::VirtualClock>(NOW));
  const auto dir = make_state(1000, JobType::CRON);
  Scheduler scheduler(nullptr, nullptr, dir / "scheduler.json");
  for (auto _ : state) {
    // The same id each time, so that the registry stays at 1001 jobs.
    scheduler.add_job(ScheduledJob{.id = "added", .schedule = "0 6 * * *", .prompt = "p"});
  }
  state.counters["file_bytes"] = double(fs::file_size(dir / "scheduler.json"));
  fs::remove_all(dir);
  host::set_clock(nullptr);
}
BENCHMARK(BM_AddJobInto1000)->Unit(benchmark::kMillisecond);

void BM_LoopPassOver10000(benchmark::State& state) {
  host::set_level(spdlog::level::warn);
  auto clock = std::make_shared<host::VirtualClock>(NOW);
  host::set_clock(clock);
  const auto dir = make_state(10000, state.range(0) ? JobType::INTERVAL : JobType::CRON);
  boost::asio::io_context io;
  {
    Scheduler scheduler(nullptr, nullptr, dir / "scheduler.json");
    boost::asio::co_spawn(io, scheduler.start(), boost::asio::detached);
    clock->poll(io);  // the first pass; the loop now waits 30 s
    for (auto _ : state) {
      clock->advance(30);
      clock->poll(io);  // exactly one more pass, none of the jobs due
    }
    boost::asio::co_spawn(io, scheduler.stop(), boost::asio::detached);
    clock->poll(io);
  }
  fs::remove_all(dir);
  host::set_clock(nullptr);
}
BENCHMARK(BM_LoopPassOver10000)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
