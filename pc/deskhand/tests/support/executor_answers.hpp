#pragma once
// The executor's answers to one fixed list of actions (clicks, drags, keys, typing, scrolls, a
// held key, pointer queries, two screenshots), for comparing one desktop with another.
#include <functional>
#include <string>
#include <vector>

#include "orvane/pc/deskhand.hpp"

namespace orvane::pc::testing {

struct ActionAnswer {
  std::string action;
  nlohmann::ordered_json answer;  // a screenshot's base64 is replaced by its decoded "WxH"
};

// On the desktop ORVANE_DESKTOP=`desktop` chooses, in a home of its own; `between` runs after
// each action (a test window dispatching its events, say).
std::vector<ActionAnswer> executor_answers(const char* desktop,
                                           const std::function<void()>& between);

}  // namespace orvane::pc::testing
