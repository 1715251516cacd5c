#include "job_reference.hpp"

#include <algorithm>

#include "output.hpp"

namespace orvane::app {

std::string resolve_job(const std::vector<JobName>& jobs, const std::string& reference) {
  std::vector<const JobName*> matches;
  for (const JobName& job : jobs) {
    if (job.id == reference) return job.id;
    const bool prefix = reference.size() >= MIN_ID_PREFIX && job.id.starts_with(reference);
    const bool same_id = std::any_of(matches.begin(), matches.end(),
                                     [&](const JobName* match) { return match->id == job.id; });
    if ((prefix || job.name == reference) && !same_id) matches.push_back(&job);
  }
  if (matches.size() == 1) return matches.front()->id;
  if (matches.empty()) throw Failure("no job with id, id prefix or name '" + reference + "'");
  constexpr std::size_t SHOWN = 10;
  std::string listed;
  for (std::size_t i = 0; i < matches.size() && i < SHOWN; ++i) {
    listed += (i > 0 ? ", " : "") + matches[i]->id + " \"" + matches[i]->name + "\"";
  }
  if (matches.size() > SHOWN) listed += ", ...";
  throw Failure("'" + reference + "' is ambiguous: it names " + std::to_string(matches.size()) +
                " jobs: " + listed + "; give more of the id");
}

}  // namespace orvane::app
