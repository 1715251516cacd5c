// The input actions: clicks, pointer moves, drags, typing, keys, scrolling, waits.
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "key_names.hpp"
#include "orvane/common/py_text.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/pc/deskhand.hpp"
#include "params.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;

Json text_result(std::string text) {
  return Json{{"type", "text"}, {"text", std::move(text)}};
}
Json error_result(std::string message) {
  return Json{{"type", "error"}, {"error", std::move(message)}};
}

std::string point_text(std::pair<int, int> point) {
  return "(" + std::to_string(point.first) + ", " + std::to_string(point.second) + ")";
}

// min(value, limit) with the first argument winning unless the limit is smaller.
double capped(double value, double limit) {
  return limit < value ? limit : value;
}

// str.strip(): surrounding white space removed.
std::string strip(const std::string& text) {
  const std::u32string chars = common::decode_utf8(text);
  std::size_t begin = 0;
  std::size_t end = chars.size();
  while (begin < end && common::is_space(chars[begin])) ++begin;
  while (end > begin && common::is_space(chars[end - 1])) --end;
  return common::encode_utf8(std::u32string_view(chars).substr(begin, end - begin));
}

}  // namespace

void DeskhandExecutor::_pause(double seconds) {
  if (std::isnan(seconds)) throw std::invalid_argument("Invalid value NaN (not a number)");
  if (seconds < 0) throw std::invalid_argument("sleep length must be non-negative");
  _platform->sleep(seconds);
}

Json DeskhandExecutor::_action_left_click(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("left_click requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.click(point.first, point.second);
  return text_result("Clicked at " + point_text(point));
}

Json DeskhandExecutor::_action_right_click(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("right_click requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.rightClick(point.first, point.second);
  return text_result("Right-clicked at " + point_text(point));
}

Json DeskhandExecutor::_action_middle_click(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("middle_click requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.middleClick(point.first, point.second);
  return text_result("Middle-clicked at " + point_text(point));
}

Json DeskhandExecutor::_action_double_click(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("double_click requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.doubleClick(point.first, point.second);
  return text_result("Double-clicked at " + point_text(point));
}

Json DeskhandExecutor::_action_triple_click(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("triple_click requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.click(point.first, point.second, 3);
  return text_result("Triple-clicked at " + point_text(point));
}

Json DeskhandExecutor::_action_mouse_move(const Json* coordinate) {
  if (!params::usable_coordinate(coordinate)) {
    return error_result("mouse_move requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto point = _coordinate_to_screen(*coordinate);
  input.moveTo(point.first, point.second, 0.3);
  return text_result("Moved cursor to " + point_text(point));
}

Json DeskhandExecutor::_action_left_click_drag(const Json* start_coordinate,
                                               const Json* coordinate) {
  if (!params::usable_coordinate(start_coordinate)) {
    return error_result("left_click_drag requires start_coordinate [x, y]");
  }
  if (!params::usable_coordinate(coordinate)) {
    return error_result("left_click_drag requires coordinate [x, y]");
  }
  auto& input = _platform->input();
  const auto start = _coordinate_to_screen(*start_coordinate);
  const auto end = _coordinate_to_screen(*coordinate);
  input.moveTo(start.first, start.second, 0.1);
  input.mouseDown();
  input.moveTo(end.first, end.second, 0.5);
  input.mouseUp();
  return text_result("Dragged from " + point_text(start) + " to " + point_text(end));
}

Json DeskhandExecutor::_action_type(const Json* text_param) {
  const std::string text = params::text(text_param, "text");
  if (text.empty()) return error_result("type requires text parameter");
  auto& input = _platform->input();
  // The shown prefix is computed first so that text that is not UTF-8 types nothing.
  std::string shown = common::cut(text, 50);
  if (common::length(text) > 50) shown += "...";
  if (Clipboard* clipboard = _platform->clipboard()) {
    clipboard->copy(text);
    if (_platform->system() == "Darwin") {
      input.hotkey({"command", "v"});
    } else {
      input.hotkey({"ctrl", "v"});
    }
    _pause(0.1);
  } else {
    input.write(text, 0.02);
  }
  return text_result("Typed: " + shown);
}

Json DeskhandExecutor::_action_key(const Json* text_param) {
  const std::string text = params::text(text_param, "text");
  if (text.empty()) return error_result("key requires text parameter");
  auto& input = _platform->input();
  if (text.find('+') == std::string::npos) {
    const std::string key = translate_key(text);
    input.press(key);
    return text_result("Pressed: " + key);
  }
  std::vector<std::string> keys;
  std::size_t start = 0;
  for (;;) {
    const auto plus = text.find('+', start);
    keys.push_back(translate_key(strip(text.substr(start, plus - start))));
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  if (_platform->system() == "Darwin") {
    for (auto& key : keys) {
      if (key == "ctrl") key = "command";
    }
  }
  input.hotkey(keys);
  std::string shown;
  for (std::size_t i = 0; i < keys.size(); ++i) shown += (i ? "+" : "") + keys[i];
  return text_result("Pressed: " + shown);
}

Json DeskhandExecutor::_action_scroll(const Json* coordinate, const Json* direction_param,
                                      const Json* amount_param) {
  auto& input = _platform->input();
  const std::string direction =
      direction_param ? params::text(direction_param, "direction") : "down";
  const int amount = params::integer(amount_param, "amount", 3);
  const long long up = amount;
  const long long steps =
      direction == "up" || direction == "right" ? up : -up;  // any other direction scrolls down
  if (steps > std::numeric_limits<int>::max()) throw std::out_of_range("amount out of range");
  if (params::usable_coordinate(coordinate)) {
    const auto point = _coordinate_to_screen(*coordinate);
    input.moveTo(point.first, point.second, 0.1);
  }
  if (direction == "left" || direction == "right") {
    input.hscroll(static_cast<int>(steps));
  } else {
    input.scroll(static_cast<int>(steps));
  }
  return text_result("Scrolled " + direction + " by " + std::to_string(amount));
}

Json DeskhandExecutor::_action_wait(const Json* duration) {
  const double seconds = capped(params::number(duration, "duration", 1.0), 10.0);
  _pause(seconds);
  return text_result("Waited " + common::py_repr(seconds) + "s");
}

Json DeskhandExecutor::_action_hold_key(const Json* text_param, const Json* duration_param) {
  const std::string text = params::text(text_param, "text");
  if (text.empty()) return error_result("hold_key requires text parameter");
  auto& input = _platform->input();
  const double duration = params::number(duration_param, "duration", 0.5);
  const std::string key = common::to_lower(text);
  input.keyDown(key);
  try {
    _pause(capped(duration, 5.0));
  } catch (...) {
    // A key left down would keep acting on every later input of the user.
    input.keyUp(key);
    throw;
  }
  input.keyUp(key);
  return text_result("Held " + key + " for " + common::py_repr(duration) + "s");
}

Json DeskhandExecutor::_action_left_mouse_down(const Json* coordinate) {
  auto& input = _platform->input();
  if (params::usable_coordinate(coordinate)) {
    const auto point = _coordinate_to_screen(*coordinate);
    input.moveTo(point.first, point.second, 0.1);
  }
  input.mouseDown();
  return text_result("Left mouse button down");
}

Json DeskhandExecutor::_action_left_mouse_up() {
  _platform->input().mouseUp();
  return text_result("Left mouse button up");
}

Json DeskhandExecutor::_action_cursor_position() {
  const auto [x, y] = _platform->input().position();
  const long long api_x = static_cast<long long>(std::trunc(x * _scale_factor));
  const long long api_y = static_cast<long long>(std::trunc(y * _scale_factor));
  return text_result("Cursor position: (" + std::to_string(api_x) + ", " + std::to_string(api_y) +
                     ")");
}

}  // namespace orvane::pc
