#pragma once
// The scheduler's one error kind for values it cannot accept: schedules, stored jobs, updates.
#include <stdexcept>

namespace orvane::scheduler {

class InvalidValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace orvane::scheduler
