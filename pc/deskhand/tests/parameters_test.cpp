// Whatever the model sends as an action and its parameters, the answer is a result object.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "orvane/host/log.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using testing::FakePlatform;
using ::testing::HasSubstr;
using ::testing::StartsWith;

Json error(const std::string& message) {
  return Json{{"type", "error"}, {"error", message}};
}

const std::vector<std::string> ACTIONS{"screenshot",    "left_click",
                                       "right_click",   "middle_click",
                                       "double_click",  "triple_click",
                                       "mouse_move",    "left_click_drag",
                                       "type",          "key",
                                       "scroll",        "wait",
                                       "hold_key",      "left_mouse_down",
                                       "left_mouse_up", "cursor_position"};

class Parameters : public ::testing::Test {
 protected:
  testing::TempHome home;
  std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
  DeskhandExecutor executor{std::nullopt, platform};

  Json run(const std::string& action, Json params = Json::object()) {
    return executor.execute_action(action, params);
  }
};

TEST_F(Parameters, UnknownActionsAreNamedAndNotLogged) {
  host::LogCapture log;
  executor._ensure_initialized();
  log.clear();
  EXPECT_EQ(run("zoom"), error("Unknown action: zoom"));
  EXPECT_EQ(run(""), error("Unknown action: "));
  EXPECT_EQ(run("Screenshot"), error("Unknown action: Screenshot"));
  EXPECT_TRUE(log.records().empty());
}

TEST_F(Parameters, AClickNeedsACoordinateOfExactlyTwoElements) {
  for (const Json& bad : {Json(nullptr), Json::array({100}), Json::array({1, 2, 3}), Json::array(),
                          Json(5), Json("ab"), Json::object()}) {
    EXPECT_EQ(run("left_click", {{"coordinate", bad}}),
              error("left_click requires coordinate [x, y]"))
        << bad.dump();
  }
  EXPECT_EQ(run("left_click"), error("left_click requires coordinate [x, y]"));
  EXPECT_TRUE(platform->calls.empty());
}

TEST_F(Parameters, ACoordinateElementThatIsNotANumberFailsTheAction) {
  for (const Json& bad : {Json::array({"714", 402}), Json::array({714, nullptr}),
                          Json::array({true, 1}), Json::array({Json::array({1}), 2})}) {
    const auto result = run("mouse_move", {{"coordinate", bad}});
    EXPECT_THAT(result["error"].get<std::string>(), StartsWith("Action mouse_move failed: "))
        << bad.dump();
  }
  EXPECT_TRUE(platform->calls.empty());
}

TEST_F(Parameters, AnExtraParameterIsNamedInTheError) {
  EXPECT_EQ(run("left_click", {{"coordinate", {1, 2}}, {"text", "x"}}),
            error("Action left_click failed: DeskhandExecutor._action_left_click() got an "
                  "unexpected keyword argument 'text'"));
  EXPECT_EQ(run("left_click", {{"coordinate", {1, 2}}, {"scroll_amount", 1}}),
            error("Action left_click failed: DeskhandExecutor._action_left_click() got an "
                  "unexpected keyword argument 'scroll_amount'"));
  EXPECT_EQ(run("left_mouse_up", {{"coordinate", {1, 2}}}),
            error("Action left_mouse_up failed: DeskhandExecutor._action_left_mouse_up() got an "
                  "unexpected keyword argument 'coordinate'"));
  // Binding comes before the action's own check.
  EXPECT_THAT(run("type", {{"txt", "x"}})["error"].get<std::string>(), HasSubstr("'txt'"));
  EXPECT_TRUE(platform->calls.empty());
}

TEST_F(Parameters, ParametersThatAreNotAnObjectFailTheAction) {
  EXPECT_EQ(run("cursor_position", Json::array()),
            error("Action cursor_position failed: DeskhandExecutor._action_cursor_position() "
                  "argument after ** must be a mapping, not list"));
  EXPECT_THAT(run("screenshot", nullptr)["error"].get<std::string>(), HasSubstr("not NoneType"));
}

TEST_F(Parameters, TextOfAnotherKindFailsTheActionInsteadOfAskingForText) {
  for (const char* action : {"type", "key", "hold_key"}) {
    EXPECT_EQ(run(action, {{"text", ""}}), error(std::string(action) + " requires text parameter"));
    for (const Json& bad : {Json(nullptr), Json(5), Json::array({"a"})}) {
      EXPECT_THAT(run(action, {{"text", bad}})["error"].get<std::string>(),
                  StartsWith(std::string("Action ") + action + " failed: "));
    }
  }
  EXPECT_TRUE(platform->calls.empty());
}

TEST_F(Parameters, NumbersOfTheWrongKindOrSizeFailTheAction) {
  EXPECT_EQ(run("scroll", {{"amount", "3"}})["type"], "error");
  EXPECT_EQ(run("scroll", {{"amount", 1e300}})["type"], "error");
  EXPECT_EQ(run("scroll", {{"amount", -2147483648LL}})["type"], "error");
  EXPECT_EQ(run("scroll", {{"direction", nullptr}})["type"], "error");
  EXPECT_EQ(run("wait", {{"duration", nullptr}})["type"], "error");
  EXPECT_TRUE(platform->calls.empty());
}

// Every action with every parameter given a value of every kind, plus random objects: never a
// throw, always one of the three result shapes.
TEST_F(Parameters, NoParameterShapeEscapesAsAnException) {
  platform->capture = ScreenCapture{2, 2, std::vector<std::uint8_t>(12, 0)};
  platform->linux_size = std::pair{1280, 800};  // no resize of the tiny capture
  const std::vector<Json> values{nullptr,
                                 true,
                                 0,
                                 -1,
                                 2.5,
                                 -1e308,
                                 18446744073709551615ULL,
                                 "",
                                 "ctrl+",
                                 "+",
                                 Json::array(),
                                 Json::array({1, 2}),
                                 Json::array({1e300, -1e300}),
                                 Json::array({"a", "b"}),
                                 Json::array({1, 2, 3}),
                                 Json::object(),
                                 Json{{"x", 1}}};
  const std::vector<std::string> names{"coordinate", "start_coordinate", "text", "direction",
                                       "amount",     "duration",         "bogus"};
  const auto check = [&](const std::string& action, const Json& params) {
    Json result;
    ASSERT_NO_THROW(result = executor.execute_action(action, params)) << action << params.dump();
    ASSERT_TRUE(result.is_object());
    const std::string type = result["type"];
    EXPECT_TRUE(type == "text" || type == "image" || type == "error") << result.dump();
  };
  for (const auto& action : ACTIONS) {
    for (const auto& value : values) {
      check(action, value);
      for (const auto& name : names) check(action, Json{{name, value}});
    }
  }
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    Json params = Json::object();
    const int count = static_cast<int>(random() % 4);
    for (int j = 0; j < count; ++j) {
      params[names[random() % (names.size() - 1)]] = values[random() % values.size()];
    }
    check(ACTIONS[random() % ACTIONS.size()], params);
  }
}

}  // namespace
}  // namespace orvane::pc
