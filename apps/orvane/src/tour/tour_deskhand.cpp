// The desktop executor's road: a screenshot, a click and typed text, each checked against what a
// window of the tour's own saw.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "base64.hpp"
#include "json_input.hpp"
#include "orvane/pc/deskhand.hpp"
#include "tour/png_pixels.hpp"
#include "tour/probe_window.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

constexpr const char* SECTION = "deskhand";
constexpr const char* TYPED = "Grüße ✓";
constexpr unsigned long WINDOW_COLOUR = 0x1f8a70;

// The action's result, or CheckFailed with its error.
Json act(pc::DeskhandExecutor& executor, const std::string& action, const Json& params) {
  const Json result = executor.execute_action(action, params);
  if (result.value("type", "") == "error") {
    throw CheckFailed(action + ": " + result.value("error", ""));
  }
  return result;
}

std::string screenshot_check(Tour& tour, pc::DeskhandExecutor& executor, ProbeWindow& window) {
  const Json result = act(executor, "screenshot", Json::object());
  if (result.value("type", "") != "image" || result.value("media_type", "") != "image/png") {
    throw CheckFailed("the result is not a PNG image: " + result.dump().substr(0, 120));
  }
  const auto png = base64_decode(result.value("base64", ""));
  if (!png) throw CheckFailed("the image is not valid base64");
  const Json info = executor.get_display_info();
  const std::string path = info.value("last_screenshot", "");
  if (path.empty() || read_input_file(path) != *png) {
    throw CheckFailed("the saved screenshot differs from the one sent to the model");
  }
  const RgbPixels pixels = decode_png(*png);
  const int api_width = info["api_width"], api_height = info["api_height"];
  if (pixels.width != api_width || pixels.height != api_height) {
    throw CheckFailed("the image is " + std::to_string(pixels.width) + "x" +
                      std::to_string(pixels.height) + ", not the API size");
  }
  const double scale = info["scale_factor"];
  const int cx = static_cast<int>((window.x() + window.width() / 2) * scale);
  const int cy = static_cast<int>((window.y() + window.height() / 2) * scale);
  if (pixels.at(cx, cy) != window.colour()) {
    throw CheckFailed("the window's colour is not in the screenshot at (" + std::to_string(cx) +
                      ", " + std::to_string(cy) + ")");
  }
  tour.outputs.emplace_back("Screenshot", path);
  tour.say() << "    screenshot saved: " << path << std::endl;
  return std::to_string(api_width) + "x" + std::to_string(api_height) + " PNG of the " +
         info["screen_width"].dump() + "x" + info["screen_height"].dump() + " screen, " +
         std::to_string(png->size()) + " bytes, shows the window";
}

std::string click_check(pc::DeskhandExecutor& executor, ProbeWindow& window) {
  const double scale = executor.get_display_info()["scale_factor"];
  const int api_x = static_cast<int>(std::lround((window.x() + window.width() / 2) * scale));
  const int api_y = static_cast<int>(std::lround((window.y() + window.height() / 2) * scale));
  const Json result = act(executor, "left_click", Json{{"coordinate", {api_x, api_y}}});
  int x = 0, y = 0;
  const std::string text = result.value("text", "");
  if (std::sscanf(text.c_str(), "Clicked at (%d, %d)", &x, &y) != 2) {
    throw CheckFailed("unexpected result: " + text);
  }
  if (!window.wait_until([&] { return !window.clicks().empty(); })) {
    throw CheckFailed("the window received no click within 3 s");
  }
  const Click click = window.clicks().front();
  if (click.button != 1 || click.x_root != x || click.y_root != y) {
    throw CheckFailed("the window saw button " + std::to_string(click.button) + " at (" +
                      std::to_string(click.x_root) + ", " + std::to_string(click.y_root) +
                      "), the executor reported " + text);
  }
  return "API (" + std::to_string(api_x) + ", " + std::to_string(api_y) +
         ") -> the window got button 1 at screen (" + std::to_string(x) + ", " + std::to_string(y) +
         ")";
}

std::string type_check(pc::DeskhandExecutor& executor, ProbeWindow& window) {
  const Json result = act(executor, "type", Json{{"text", TYPED}});
  if (result.value("text", "") != std::string("Typed: ") + TYPED) {
    throw CheckFailed("unexpected result: " + result.dump());
  }
  window.wait_until([&] { return window.text() == TYPED; });
  if (window.text() != TYPED) {
    throw CheckFailed("the window received \"" + window.text() + "\"");
  }
  return std::string("the window received \"") + TYPED + "\" " +
         (window.pasted() ? "(ctrl+v, pasted from the clipboard)" : "(as key presses)");
}

}  // namespace

void deskhand_section(Tour& tour) {
  tour.say() << "\n== deskhand" << std::endl;
  std::unique_ptr<ProbeWindow> window;
  const bool opened = tour.check(SECTION, "open a window of our own on the display", [&] {
#ifdef __linux__
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      throw CheckFailed("no X display: DISPLAY is not set (scripts/tour starts a private Xvfb)");
    }
#endif
    window = std::make_unique<ProbeWindow>(48, 48, 360, 160, WINDOW_COLOUR);
    return "360x160 at (48, 48) on " + window->display_name();
  });
  const char* steps[] = {"screenshot through execute_action", "left_click into the window",
                         "type \"Grüße ✓\" into the window"};
  if (!opened) {
    for (const char* step : steps) tour.skip(SECTION, step, "no window");
    return;
  }
  pc::DeskhandExecutor executor;
  tour.check(SECTION, steps[0], [&] { return screenshot_check(tour, executor, *window); });
  tour.check(SECTION, steps[1], [&] { return click_check(executor, *window); });
  tour.check(SECTION, steps[2], [&] { return type_check(executor, *window); });
  window->take_clipboard();
}

}  // namespace orvane::app::tour
