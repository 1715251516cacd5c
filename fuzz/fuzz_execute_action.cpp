// Any action name and JSON parameters on a fake desktop: execute_action never throws, answers
// with one of its three result objects, names an unknown action in its error, and answers in
// valid UTF-8 whatever bytes it was given. The input is the action name, a line feed, then the
// parameters' JSON text.
#include <stdlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

using namespace orvane::pc;
namespace fuzz = orvane::fuzz;
using fuzz::json;
using orvane::common::replace_invalid_utf8;
using orvane::pc::testing::FakePlatform;

namespace {

constexpr std::array ACTIONS = {"screenshot",    "left_click",
                                "right_click",   "middle_click",
                                "double_click",  "triple_click",
                                "mouse_move",    "left_click_drag",
                                "type",          "key",
                                "scroll",        "wait",
                                "hold_key",      "left_mouse_down",
                                "left_mouse_up", "cursor_position"};

bool known(const std::string& action) {
  for (const char* name : ACTIONS)
    if (action == name) return true;
  return false;
}

bool is_text(const json& result, const char* key) {
  return result.contains(key) && result[key].is_string();
}

void check_result(const json& result, const std::string& action) {
  fuzz::check(result.is_object() && is_text(result, "type"), "a result without its type");
  const auto& type = result["type"];
  if (type == "text") {
    fuzz::check(result.size() == 2 && is_text(result, "text"), "a text result's shape");
  } else if (type == "error") {
    fuzz::check(result.size() == 2 && is_text(result, "error"), "an error result's shape");
  } else {
    fuzz::check(type == "image" && is_text(result, "base64") && result["media_type"] == "image/png",
                "an image result's shape");
    fuzz::check(result["base64"].get<std::string>().starts_with("iVBORw0KGgo"),
                "an image that is not a PNG");
  }
  if (!known(action)) {
    fuzz::check(result == json{{"type", "error"},
                               {"error", "Unknown action: " + replace_invalid_utf8(action)}},
                "an unknown action is not named in its error");
  }
  try {
    (void)result.dump();  // strict: throws on bytes that are not UTF-8
  } catch (const json::exception&) {
    fuzz::fail("a result that is not valid UTF-8");
  }
}

// A 1920 x 1080 screen whose capture fails (the scaled path and the fallback), and a small one
// whose capture works (the image path, at scale 1).
std::shared_ptr<FakePlatform> platform(bool small) {
  auto fake = std::make_shared<FakePlatform>();
  fake->pointer = {1919, 1079};
  if (small) {
    fake->linux_size = std::pair{48, 32};
    fake->pointer = {47, 31};
    fake->capture = ScreenCapture{48, 32, std::vector<std::uint8_t>(48 * 32 * 3, 0x7f)};
  }
  return fake;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  static fuzz::ScratchDir home("execute-action");
  ::setenv("HOME", home.path().c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = fuzz::as_text(data, size);
  const auto line_end = text.find('\n');
  const std::string action(text.substr(0, line_end));
  json params = json::object();
  if (line_end != std::string_view::npos) {
    const auto rest = text.substr(line_end + 1);
    if (auto parsed = fuzz::as_json(rest)) {
      params = std::move(*parsed);
    } else {
      params = std::string(rest);
    }
  }

  for (const bool small : {false, true}) {
    DeskhandExecutor executor(std::nullopt, platform(small));
    json result;
    try {
      result = executor.execute_action(action, params);
    } catch (...) {
      fuzz::fail("execute_action throws");
    }
    check_result(result, action);
  }
  return 0;
}
