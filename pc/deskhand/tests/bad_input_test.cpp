// Values the model may send that no action can use as they are: each answer is a result object
// that the host can write as JSON, with the action's error or its defined result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using testing::FakePlatform;

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

struct Case {
  std::string action;
  Json params;
  std::string expected;  // the whole text or error; one ending in ": " is a prefix
};

TEST(DeskhandBadInput, EveryValueGivesAWritableResultWithTheDefinedText) {
  const std::string big(1'000'000, 'w');
  const Case cases[] = {
      {"\xff", Json::object(), "Unknown action: \xef\xbf\xbd"},
      {"left_click",
       {{"coordinate", {100, 200}}, {"\xfe", 1}},
       "Action left_click failed: DeskhandExecutor._action_left_click() got an unexpected keyword "
       "argument '\xef\xbf\xbd'"},
      {"type", {{"text", "abc\xff"}}, "Action type failed: "},
      {"type", {{"text", big}}, "Typed: " + big.substr(0, 50) + "..."},
      {"key", {{"text", "\xc3"}}, "Action key failed: invalid UTF-8 at byte 0"},
      {"key", {{"text", "ctrl+\xed\xa0\x80"}}, "Action key failed: "},
      {"hold_key",
       {{"text", "\x80"}, {"duration", 0}},
       "Action hold_key failed: invalid UTF-8 at byte 0"},
      {"scroll", {{"direction", "\xff"}}, "Scrolled \xef\xbf\xbd by 3"},
      {"scroll", {{"amount", NOT_A_NUMBER}}, "Action scroll failed: "},
      {"scroll",
       {{"amount", INF}},
       "Action scroll failed: cannot convert float infinity to integer"},
      {"scroll", {{"amount", -7.9}}, "Scrolled down by -7"},
      {"scroll", {{"amount", 9223372036854775807LL}}, "Action scroll failed: "},
      {"scroll", {{"amount", 18446744073709551615ULL}}, "Action scroll failed: "},
      {"scroll", {{"amount", Json::array()}}, "Action scroll failed: "},
      {"wait",
       {{"duration", NOT_A_NUMBER}},
       "Action wait failed: Invalid value NaN (not a number)"},
      {"wait", {{"duration", -INF}}, "Action wait failed: sleep length must be non-negative"},
      {"wait", {{"duration", INF}}, "Waited 10.0s"},
      {"wait", {{"duration", 1e300}}, "Waited 10.0s"},
      {"wait", {{"duration", -0.5}}, "Action wait failed: sleep length must be non-negative"},
      {"wait", {{"duration", "1"}}, "Action wait failed: "},
      {"hold_key", {{"text", "a"}, {"duration", NOT_A_NUMBER}}, "Action hold_key failed: "},
      {"mouse_move", {{"coordinate", {NOT_A_NUMBER, 1}}}, "Action mouse_move failed: "},
      {"mouse_move", {{"coordinate", {INF, 1}}}, "Action mouse_move failed: "},
      {"mouse_move", {{"coordinate", {1, -INF}}}, "Action mouse_move failed: "},
      {"mouse_move", {{"coordinate", {18446744073709551615ULL, 1}}}, "Moved cursor to (1919, 1)"},
      {"mouse_move", {{"coordinate", {-9223372036854775807LL, 1}}}, "Moved cursor to (0, 1)"},
      {"mouse_move", {{"coordinate", {-5, -5}}}, "Moved cursor to "},
      {"mouse_move", {{"coordinate", {10.9, 20.2}}}, "Moved cursor to "},
      {"left_click_drag",
       {{"start_coordinate", {1, 2}}, {"coordinate", {"1", 2}}},
       "Action left_click_drag failed: "},
      {"left_click", {{"coordinate", {{{"x", 1}}, 2}}}, "Action left_click failed: "},
      {"cursor_position", Json("\xff"), "Action cursor_position failed: "},
  };
  testing::TempHome home;
  for (const auto& [action, params, expected] : cases) {
    SCOPED_TRACE(action + " " + params.dump(-1, ' ', false, Json::error_handler_t::replace));
    auto platform = std::make_shared<FakePlatform>();
    DeskhandExecutor executor{std::nullopt, platform};
    const Json result = executor.execute_action(action, params);
    std::string written;
    ASSERT_NO_THROW(written = result.dump());  // strict: every text is UTF-8
    ASSERT_EQ(result.size(), 2u) << written;
    const auto& text = result[result["type"] == "error" ? "error" : "text"];
    if (expected.ends_with(": ") || expected.ends_with("to ")) {
      EXPECT_THAT(text.get<std::string>(), ::testing::StartsWith(expected)) << written;
    } else {
      EXPECT_EQ(text, expected) << written;
    }
    // A key is never left down.
    const auto downs = std::count_if(platform->calls.begin(), platform->calls.end(),
                                     [](const std::string& c) { return c.starts_with("keyDown"); });
    const auto ups = std::count_if(platform->calls.begin(), platform->calls.end(),
                                   [](const std::string& c) { return c.starts_with("keyUp"); });
    EXPECT_EQ(downs, ups);
  }
}

}  // namespace
}  // namespace orvane::pc
