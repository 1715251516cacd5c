// next_occurrence against the plain minute-by-minute search it replaces.
#include <benchmark/benchmark.h>

#include "orvane/scheduler/cron.hpp"

namespace {

using orvane::scheduler::CronExpression;
using orvane::scheduler::InvalidValueError;
using orvane::scheduler::LocalTime;

const char* const EXPRESSIONS[] = {"0 6 * * *", "*/5 * * * *", "0 0 30 2 *", "75 * * * *"};

LocalTime start() {
  using namespace std::chrono;
  return LocalTime{local_days{year{2025} / 3 / 10}} + hours{7} + minutes{13} + seconds{21};
}

// The search as defined: one candidate minute after another, up to 527040 of them.
bool reference_next(const CronExpression& cron, LocalTime after, LocalTime& found) {
  using namespace std::chrono;
  auto candidate = floor<minutes>(after) + minutes{1};
  for (int i = 0; i < CronExpression::SEARCH_MINUTES; ++i, candidate += minutes{1}) {
    if (cron.matches(candidate)) {
      found = candidate;
      return true;
    }
  }
  return false;
}

void BM_NextOccurrence(benchmark::State& state) {
  const CronExpression cron(EXPRESSIONS[state.range(0)]);
  state.SetLabel(EXPRESSIONS[state.range(0)]);
  const auto after = start();
  for (auto _ : state) {
    try {
      benchmark::DoNotOptimize(cron.next_occurrence(after));
    } catch (const InvalidValueError& error) {
      benchmark::DoNotOptimize(error.what());
    }
  }
}
BENCHMARK(BM_NextOccurrence)->DenseRange(0, 3);

void BM_NextOccurrenceMinuteByMinute(benchmark::State& state) {
  const CronExpression cron(EXPRESSIONS[state.range(0)]);
  state.SetLabel(EXPRESSIONS[state.range(0)]);
  const auto after = start();
  for (auto _ : state) {
    LocalTime found;
    benchmark::DoNotOptimize(reference_next(cron, after, found));
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_NextOccurrenceMinuteByMinute)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
