#pragma once
// Naming a job on the command line as people do: its id, a prefix of the id, or its name.
#include <string>
#include <vector>

namespace orvane::app {

struct JobName {
  std::string id;
  std::string name;
};

// The shortest id prefix taken as a reference, as git takes abbreviated commit names.
inline constexpr std::size_t MIN_ID_PREFIX = 4;

// The id of the job that `reference` names among `jobs`: the job with that id; otherwise the one
// job whose id starts with it (MIN_ID_PREFIX characters or more) or whose name it is. Throws
// Failure when no job matches or when several do, listing them.
std::string resolve_job(const std::vector<JobName>& jobs, const std::string& reference);

}  // namespace orvane::app
