#include "orvane/common/set_aside.hpp"

#include <string>

#include "orvane/common/local_time.hpp"

namespace orvane::common {

std::filesystem::path set_aside(const std::filesystem::path& path,
                                std::chrono::local_time<std::chrono::microseconds> now) {
  namespace fs = std::filesystem;
  const auto base = path.string() + ".corrupt-" + format_local(now, "%Y%m%d-%H%M%S");
  fs::path target = base;
  std::error_code error;
  // symlink_status, so that a dangling link of that name is not replaced either.
  for (int n = 1; fs::exists(fs::symlink_status(target, error)); ++n) {
    target = base + "." + std::to_string(n);
  }
  fs::rename(path, target);
  return target;
}

}  // namespace orvane::common
