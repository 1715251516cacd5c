#include "local_tm.hpp"

namespace orvane::scheduler {

bool to_local_tm(std::time_t seconds, std::tm& out) {
  return ::localtime_r(&seconds, &out) != nullptr;
}

}  // namespace orvane::scheduler
