// Any JSON value as a stored job: from_dict refuses it with InvalidValueError or gives a job whose
// dictionary form reads back to itself, and which the state file gives back field for field.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "fuzz_support.hpp"
#include "orvane/scheduler/scheduler.hpp"

using namespace orvane::scheduler;
namespace fuzz = orvane::fuzz;

namespace {

// Everything a restart must give back: the dictionary form, the whole prompt and the metadata.
std::string stored_text(const ScheduledJob& job) {
  return fuzz::text_of(job.to_dict()) + job.prompt + fuzz::text_of(job.metadata);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = fuzz::as_json(fuzz::as_text(data, size));
  if (!value) return 0;
  std::optional<ScheduledJob> job;
  try {
    job.emplace(ScheduledJob::from_dict(*value));
  } catch (const InvalidValueError&) {
    return 0;
  }

  const auto form = job->to_dict();
  fuzz::check(fuzz::text_of(ScheduledJob::from_dict(form).to_dict()) == fuzz::text_of(form),
              "a job's dictionary form reads back as another job");

  static fuzz::ScratchDir scratch("job-from-dict");
  scratch.reset();
  const auto file = scratch.path() / "scheduler.json";
  std::shared_ptr<ScheduledJob> added;
  {
    Scheduler scheduler(nullptr, nullptr, file);
    added = scheduler.add_job(std::move(*job));
  }
  // A time that JSON cannot hold is stored as 0, with an error logged.
  if (!std::isfinite(added->created_at) || !std::isfinite(added->last_run) ||
      !std::isfinite(added->next_run))
    return 0;
  Scheduler reloaded(nullptr, nullptr, file);
  const auto back = reloaded.get_job(added->id);
  fuzz::check(back != nullptr, "an added job is missing after a restart");
  fuzz::check(stored_text(*back) == stored_text(*added), "a job changes across a restart");
  return 0;
}
