// Any bytes as the scheduler's state file: loading never fails beyond its logged error, and the
// file the scheduler then writes loads back whole and is written again byte for byte.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.hpp"
#include "orvane/scheduler/scheduler.hpp"

using namespace orvane::scheduler;
namespace fuzz = orvane::fuzz;
namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A job whose next run does not depend on the clock; adding it makes the scheduler save.
ScheduledJob probe() {
  return ScheduledJob{.id = "fuzzprobe0",
                      .name = "probe",
                      .job_type = JobType::ONCE,
                      .created_at = 1.5e9,
                      .next_run = 2e9};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchDir scratch("state-file");
  scratch.reset();
  const fs::path file = scratch.path() / "scheduler.json";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));

  Scheduler first(nullptr, nullptr, file);
  (void)first.list_jobs();
  (void)first.stats();
  first.add_job(probe());
  const std::string written = read_all(file);

  Scheduler second(nullptr, nullptr, file);
  fuzz::check(fs::exists(file), "a file the scheduler wrote is set aside on loading");
  fuzz::check(second.list_jobs().size() == first.list_jobs().size(),
              "a file the scheduler wrote loads back without every job");
  second.add_job(probe());
  fuzz::check(read_all(file) == written, "saving what was loaded changes the file");
  return 0;
}
