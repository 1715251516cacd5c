#include "support/executor_answers.hpp"

#include <cstdlib>

#include "image/image.hpp"
#include "support/base64_decode.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc::testing {

using Json = nlohmann::ordered_json;

std::vector<ActionAnswer> executor_answers(const char* desktop,
                                           const std::function<void()>& between) {
  const std::vector<std::pair<std::string, Json>> actions{
      {"screenshot", Json::object()},
      {"mouse_move", {{"coordinate", {100, 200}}}},
      {"cursor_position", Json::object()},
      {"left_click", {{"coordinate", {640, 360}}}},
      {"double_click", {{"coordinate", {700, 400}}}},
      {"right_click", {{"coordinate", {300, 500}}}},
      {"triple_click", {{"coordinate", {320, 520}}}},
      {"key", {{"text", "ctrl+shift+t"}}},
      {"type", {{"text", "Grüße ✓"}}},
      {"scroll", {{"coordinate", {500, 300}}, {"direction", "up"}, {"amount", 3}}},
      {"scroll", {{"direction", "right"}, {"amount", 1}}},
      {"left_click_drag", {{"start_coordinate", {100, 100}}, {"coordinate", {900, 600}}}},
      {"hold_key", {{"text", "shift"}, {"duration", 0.1}}},
      {"left_mouse_down", {{"coordinate", {200, 150}}}},
      {"left_mouse_up", Json::object()},
      {"key", {{"text", "Return"}}},
      {"mouse_move", {{"coordinate", {5000, -20}}}},
      {"cursor_position", Json::object()},
      {"screenshot", Json::object()},
  };
  setenv("ORVANE_DESKTOP", desktop, 1);
  TempHome home;
  DeskhandExecutor executor;
  std::vector<ActionAnswer> answers;
  for (const auto& [action, params] : actions) {
    Json answer = executor.execute_action(action, params);
    if (answer.value("type", "") == "image") {
      const auto image = image::decode_png(base64_decode(answer.value("base64", "")));
      answer["base64"] = std::to_string(image.width) + "x" + std::to_string(image.height);
    }
    answers.push_back({action, answer});
    between();
  }
  unsetenv("ORVANE_DESKTOP");
  return answers;
}

}  // namespace orvane::pc::testing
