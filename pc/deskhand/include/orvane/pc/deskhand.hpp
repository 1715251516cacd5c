#pragma once
// The computer-use executor: carries out the desktop actions the model asks for through the
// Anthropic computer-use tool and answers each with a text, image or error object.
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc {

// Limits of an image sent to the model.
inline constexpr int API_MAX_LONG_EDGE = 1568;
inline constexpr int API_MAX_TOTAL_PIXELS = 1150000;

// The factor (at most 1.0) that brings a width x height screen within both limits. Throws
// std::domain_error when width x height is not positive.
double _get_scale_factor(long long width, long long height);

class DeskhandExecutor {
 public:
  // `display_number` is only announced in the tool definition. `platform` defaults to
  // make_system_platform(); nothing is asked of it before the first call below.
  explicit DeskhandExecutor(std::optional<int> display_number = std::nullopt,
                            std::shared_ptr<DesktopPlatform> platform = nullptr);

  // Runs one action ("screenshot", "left_click", ...) with its parameters (a JSON object).
  // Returns {"type": "text", "text"}, {"type": "image", "base64", "media_type"} or
  // {"type": "error", "error"}; never throws.
  nlohmann::ordered_json execute_action(
      const std::string& action,
      const nlohmann::ordered_json& params = nlohmann::ordered_json::object());

  // {"type": "computer_20250124", "name": "computer", "display_width_px", "display_height_px"[,
  // "display_number"]}.
  nlohmann::ordered_json get_tool_definition();
  // {"screen_width", "screen_height", "api_width", "api_height", "scale_factor",
  // "last_screenshot"}.
  nlohmann::ordered_json get_display_info();

  // Screen detection and scaling, run once, on the first call of the three above.
  void _ensure_initialized();
  // An API point to the screen point under it, clamped to the screen when scaled.
  std::pair<int, int> _to_screen_coords(double api_x, double api_y) const;

 private:
  using Json = nlohmann::ordered_json;

  void _detect_screen_size();
  void _compute_scale();
  std::pair<int, int> _to_screen_coords(const Json& api_x, const Json& api_y) const;
  std::pair<int, int> _coordinate_to_screen(const Json& coordinate) const;
  void _pause(double seconds);

  Json _action_screenshot();
  Json _fallback_screenshot();
  Json _action_left_click(const Json* coordinate);
  Json _action_right_click(const Json* coordinate);
  Json _action_middle_click(const Json* coordinate);
  Json _action_double_click(const Json* coordinate);
  Json _action_triple_click(const Json* coordinate);
  Json _action_mouse_move(const Json* coordinate);
  Json _action_left_click_drag(const Json* start_coordinate, const Json* coordinate);
  Json _action_type(const Json* text);
  Json _action_key(const Json* text);
  Json _action_scroll(const Json* coordinate, const Json* direction, const Json* amount);
  Json _action_wait(const Json* duration);
  Json _action_hold_key(const Json* text, const Json* duration);
  Json _action_left_mouse_down(const Json* coordinate);
  Json _action_left_mouse_up();
  Json _action_cursor_position();

  Json _dispatch(const std::string& action, const Json& params);

  std::shared_ptr<DesktopPlatform> _platform;
  std::optional<int> _display_number;
  int _screen_width = 0;
  int _screen_height = 0;
  double _scale_factor = 1.0;
  int _api_width = 0;
  int _api_height = 0;
  bool _initialized = false;
  std::optional<std::string> _last_screenshot_path;
};

}  // namespace orvane::pc
