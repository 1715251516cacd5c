// The entry point: dispatch of the sixteen actions, the tool definition and the display info.
#include <cmath>
#include <cstdlib>
#include <string>

#include "orvane/common/unicode.hpp"
#include "orvane/host/log.hpp"
#include "orvane/pc/deskhand.hpp"
#include "params.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;

spdlog::logger& logger() {
  static const auto instance = host::get_logger("orvane.pc.deskhand");
  return *instance;
}

Json error_result(std::string message) {
  return Json{{"type", "error"}, {"error", std::move(message)}};
}

// The texts of a result name what the model sent (an action, a key, a parameter), which may hold
// bytes that are not UTF-8; the host writes results as JSON, so those bytes become U+FFFD.
Json writable(Json result) {
  for (const char* key : {"text", "error"}) {
    const auto found = result.find(key);
    if (found == result.end() || !found->is_string()) continue;
    const auto& text = found->get_ref<const std::string&>();
    if (!common::is_valid_utf8(text)) *found = common::replace_invalid_utf8(text);
  }
  return result;
}

}  // namespace

DeskhandExecutor::DeskhandExecutor(std::optional<int> display_number,
                                   std::shared_ptr<DesktopPlatform> platform)
    : _platform(platform ? std::move(platform) : make_system_platform()),
      _display_number(display_number) {}

Json DeskhandExecutor::execute_action(const std::string& action, const Json& params) {
  _ensure_initialized();
  const std::string failed = "Action " + action + " failed";
  try {
    return writable(_dispatch(action, params));
  } catch (const std::exception& error) {
    host::log_exception(logger(), failed, error);
    return writable(error_result(failed + ": " + error.what()));
  } catch (...) {
    host::log_exception(logger(), failed, std::current_exception());
    return writable(error_result(failed + ": unknown error"));
  }
}

Json DeskhandExecutor::_dispatch(const std::string& action, const Json& params) {
  using params::Bound;
  const std::string method = "_action_" + action;
  if (action == "screenshot") {
    (void)Bound(method, params, {});
    return _action_screenshot();
  }
  if (action == "left_click") {
    const Bound p(method, params, {"coordinate"});
    return _action_left_click(p.get("coordinate"));
  }
  if (action == "right_click") {
    const Bound p(method, params, {"coordinate"});
    return _action_right_click(p.get("coordinate"));
  }
  if (action == "middle_click") {
    const Bound p(method, params, {"coordinate"});
    return _action_middle_click(p.get("coordinate"));
  }
  if (action == "double_click") {
    const Bound p(method, params, {"coordinate"});
    return _action_double_click(p.get("coordinate"));
  }
  if (action == "triple_click") {
    const Bound p(method, params, {"coordinate"});
    return _action_triple_click(p.get("coordinate"));
  }
  if (action == "mouse_move") {
    const Bound p(method, params, {"coordinate"});
    return _action_mouse_move(p.get("coordinate"));
  }
  if (action == "left_click_drag") {
    const Bound p(method, params, {"start_coordinate", "coordinate"});
    return _action_left_click_drag(p.get("start_coordinate"), p.get("coordinate"));
  }
  if (action == "type") {
    const Bound p(method, params, {"text"});
    return _action_type(p.get("text"));
  }
  if (action == "key") {
    const Bound p(method, params, {"text"});
    return _action_key(p.get("text"));
  }
  if (action == "scroll") {
    // The computer-use tool's schema spells these scroll_direction and scroll_amount; the short
    // names win when a call gives both.
    const Bound p(method, params,
                  {"coordinate", "direction", "amount", "scroll_direction", "scroll_amount"});
    return _action_scroll(p.get("coordinate"), p.get_either("direction", "scroll_direction"),
                          p.get_either("amount", "scroll_amount"));
  }
  if (action == "wait") {
    const Bound p(method, params, {"duration"});
    return _action_wait(p.get("duration"));
  }
  if (action == "hold_key") {
    const Bound p(method, params, {"text", "duration"});
    return _action_hold_key(p.get("text"), p.get("duration"));
  }
  if (action == "left_mouse_down") {
    const Bound p(method, params, {"coordinate"});
    return _action_left_mouse_down(p.get("coordinate"));
  }
  if (action == "left_mouse_up") {
    (void)Bound(method, params, {});
    return _action_left_mouse_up();
  }
  if (action == "cursor_position") {
    (void)Bound(method, params, {});
    return _action_cursor_position();
  }
  return error_result("Unknown action: " + action);
}

Json DeskhandExecutor::get_tool_definition() {
  _ensure_initialized();
  Json definition{{"type", "computer_20250124"},
                  {"name", "computer"},
                  {"display_width_px", _api_width},
                  {"display_height_px", _api_height}};
  if (_display_number) definition["display_number"] = *_display_number;
  return definition;
}

Json DeskhandExecutor::get_display_info() {
  _ensure_initialized();
  // Three decimals, correctly rounded from the double's exact value, read back as a number.
  const double scale = std::strtod(fmt::format("{:.3f}", _scale_factor).c_str(), nullptr);
  Json info{{"screen_width", _screen_width}, {"screen_height", _screen_height},
            {"api_width", _api_width},       {"api_height", _api_height},
            {"scale_factor", scale},         {"last_screenshot", nullptr}};
  if (_last_screenshot_path) info["last_screenshot"] = *_last_screenshot_path;
  return info;
}

}  // namespace orvane::pc
