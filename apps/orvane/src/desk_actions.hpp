#pragma once
// The actions the desktop executor carries out, with the parameters each takes: what
// `desk actions` lists and `desk do` accepts.
#include <span>
#include <string_view>

namespace orvane::app {

struct DeskParameter {
  std::string_view name;
  std::string_view meaning;
};

struct DeskAction {
  std::string_view name;
  std::string_view summary;
  std::span<const DeskParameter> parameters;
};

std::span<const DeskAction> desk_actions();

}  // namespace orvane::app
