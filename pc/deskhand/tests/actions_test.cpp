// The input actions through a fake platform: what each one does, in order, and what it answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvane/host/log.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using ::testing::ElementsAre;
using testing::FakePlatform;
using ::testing::IsEmpty;

Json text(const std::string& text) {
  return Json{{"type", "text"}, {"text", text}};
}
Json error(const std::string& message) {
  return Json{{"type", "error"}, {"error", message}};
}

class Actions : public ::testing::Test {
 protected:
  std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
  DeskhandExecutor executor{std::nullopt, platform};

  void SetUp() override { executor._ensure_initialized(); }

  Json run(const std::string& action, Json params = Json::object()) {
    return executor.execute_action(action, params);
  }
};

TEST_F(Actions, ClicksReportTheScreenPointTheyClicked) {
  EXPECT_EQ(run("left_click", {{"coordinate", {714, 402}}}), text("Clicked at (958, 539)"));
  EXPECT_EQ(run("right_click", {{"coordinate", {0, 0}}}), text("Right-clicked at (0, 0)"));
  EXPECT_EQ(run("middle_click", {{"coordinate", {1429, 804}}}),
            text("Middle-clicked at (1918, 1079)"));
  EXPECT_EQ(run("double_click", {{"coordinate", {2000, 2000}}}),
            text("Double-clicked at (1919, 1079)"));
  EXPECT_EQ(run("triple_click", {{"coordinate", {-5, 10}}}), text("Triple-clicked at (0, 13)"));
  EXPECT_EQ(run("mouse_move", {{"coordinate", {714.7, 402.2}}}),
            text("Moved cursor to (958, 539)"));
  EXPECT_THAT(platform->calls,
              ElementsAre("click(958, 539, 1)", "rightClick(0, 0)", "middleClick(1918, 1079)",
                          "doubleClick(1919, 1079)", "click(0, 13, 3)", "moveTo(958, 539, 0.3)"));
}

TEST_F(Actions, DragMovesPressesMovesAndReleases) {
  EXPECT_EQ(run("left_click_drag", {{"start_coordinate", {100, 100}}, {"coordinate", {714, 402}}}),
            text("Dragged from (134, 134) to (958, 539)"));
  EXPECT_THAT(platform->calls, ElementsAre("moveTo(134, 134, 0.1)", "mouseDown()",
                                           "moveTo(958, 539, 0.5)", "mouseUp()"));
}

TEST_F(Actions, DragChecksTheStartPointFirst) {
  EXPECT_EQ(run("left_click_drag"), error("left_click_drag requires start_coordinate [x, y]"));
  EXPECT_EQ(run("left_click_drag", {{"start_coordinate", {1, 2}}}),
            error("left_click_drag requires coordinate [x, y]"));
  // A bad end point fails before the pointer is touched.
  const auto result =
      run("left_click_drag", {{"start_coordinate", {1, 2}}, {"coordinate", {"a", 2}}});
  EXPECT_EQ(result["type"], "error");
  EXPECT_THAT(platform->calls, IsEmpty());
}

TEST_F(Actions, TypePastesThroughTheClipboardAndLeavesItThere) {
  EXPECT_EQ(run("type", {{"text", "héllo wörld"}}), text("Typed: héllo wörld"));
  EXPECT_THAT(platform->calls, ElementsAre("copy(héllo wörld)", "hotkey(ctrl, v)", "sleep(0.1)"));
  platform->calls.clear();
  platform->system_name = "Darwin";
  run("type", {{"text", "x"}});
  EXPECT_THAT(platform->calls, ElementsAre("copy(x)", "hotkey(command, v)", "sleep(0.1)"));
}

TEST_F(Actions, TypeWritesCharacterByCharacterOnlyWithoutAnyClipboard) {
  platform->clipboard_available = false;
  EXPECT_EQ(run("type", {{"text", "abc"}}), text("Typed: abc"));
  EXPECT_THAT(platform->calls, ElementsAre("write(abc, 0.02)"));
}

TEST_F(Actions, TypeFailsWhenTheClipboardMechanismFails) {
  platform->clipboard_fails = true;
  EXPECT_EQ(run("type", {{"text", "abc"}}), error("Action type failed: no clipboard mechanism"));
  EXPECT_THAT(platform->calls, ElementsAre("copy(abc)"));
}

TEST_F(Actions, TypeShowsAtMostFiftyCharacters) {
  const std::string fifty = std::string(49, 'a') + "é";
  EXPECT_EQ(run("type", {{"text", fifty}}), text("Typed: " + fifty));
  EXPECT_EQ(run("type", {{"text", fifty + "€"}}), text("Typed: " + fifty + "..."));
  EXPECT_EQ(run("type", {{"text", ""}}), error("type requires text parameter"));
  EXPECT_EQ(run("type"), error("type requires text parameter"));
}

TEST_F(Actions, KeyTranslatesNamesAndSplitsCombinations) {
  EXPECT_EQ(run("key", {{"text", "Return"}}), text("Pressed: enter"));
  EXPECT_EQ(run("key", {{"text", "F5"}}), text("Pressed: f5"));
  EXPECT_EQ(run("key", {{"text", "ctrl+s"}}), text("Pressed: ctrl+s"));
  EXPECT_EQ(run("key", {{"text", "Control_L + Shift_L + T"}}), text("Pressed: ctrl+shift+t"));
  EXPECT_EQ(run("key", {{"text", "Page_Down"}}), text("Pressed: pagedown"));
  EXPECT_EQ(run("key", {{"text", " Return"}}), text("Pressed:  return"));  // single key: no strip
  EXPECT_THAT(platform->calls,
              ElementsAre("press(enter)", "press(f5)", "hotkey(ctrl, s)", "hotkey(ctrl, shift, t)",
                          "press(pagedown)", "press( return)"));
  EXPECT_EQ(run("key"), error("key requires text parameter"));
}

TEST_F(Actions, KeyUsesCommandForCtrlCombinationsOnMacOnly) {
  platform->system_name = "Darwin";
  EXPECT_EQ(run("key", {{"text", "ctrl+s"}}), text("Pressed: command+s"));
  EXPECT_EQ(run("key", {{"text", "ctrl"}}), text("Pressed: ctrl"));
  EXPECT_THAT(platform->calls, ElementsAre("hotkey(command, s)", "press(ctrl)"));
}

TEST_F(Actions, ScrollTurnsTheWheelByDirection) {
  EXPECT_EQ(run("scroll"), text("Scrolled down by 3"));
  EXPECT_EQ(run("scroll", {{"direction", "up"}, {"amount", 2}}), text("Scrolled up by 2"));
  EXPECT_EQ(run("scroll", {{"direction", "left"}, {"amount", 5}}), text("Scrolled left by 5"));
  EXPECT_EQ(run("scroll", {{"direction", "right"}, {"amount", 1.9}}), text("Scrolled right by 1"));
  EXPECT_EQ(run("scroll", {{"direction", "sideways"}}), text("Scrolled sideways by 3"));
  EXPECT_EQ(run("scroll", {{"coordinate", {714, 402}}, {"direction", "down"}, {"amount", 1}}),
            text("Scrolled down by 1"));
  EXPECT_EQ(run("scroll", {{"coordinate", {1}}, {"amount", 4}}), text("Scrolled down by 4"));
  EXPECT_EQ(run("scroll", {{"scroll_direction", "up"}, {"scroll_amount", 6}}),
            text("Scrolled up by 6"));
  EXPECT_EQ(
      run("scroll",
          {{"direction", "left"}, {"scroll_direction", "up"}, {"amount", 1}, {"scroll_amount", 9}}),
      text("Scrolled left by 1"));
  EXPECT_THAT(platform->calls, ElementsAre("scroll(-3)", "scroll(2)", "hscroll(-5)", "hscroll(1)",
                                           "scroll(-3)", "moveTo(958, 539, 0.1)", "scroll(-1)",
                                           "scroll(-4)", "scroll(6)", "hscroll(-1)"));
}

TEST_F(Actions, WaitIsCappedAtTenSecondsAndShowsPythonNumbers) {
  EXPECT_EQ(run("wait", {{"duration", 30}}), text("Waited 10.0s"));
  EXPECT_EQ(run("wait", {{"duration", 2}}), text("Waited 2.0s"));
  EXPECT_EQ(run("wait"), text("Waited 1.0s"));
  EXPECT_EQ(run("wait", {{"duration", 0.00001}}), text("Waited 1e-05s"));
  EXPECT_THAT(platform->calls,
              ElementsAre("sleep(10.0)", "sleep(2.0)", "sleep(1.0)", "sleep(1e-05)"));
  EXPECT_EQ(run("wait", {{"duration", -1}}),
            error("Action wait failed: sleep length must be non-negative"));
}

TEST_F(Actions, HoldKeyReportsTheRequestedDurationButHoldsAtMostFive) {
  EXPECT_EQ(run("hold_key", {{"text", "A"}, {"duration", 8}}), text("Held a for 8.0s"));
  EXPECT_EQ(run("hold_key", {{"text", "shift"}}), text("Held shift for 0.5s"));
  EXPECT_THAT(platform->calls, ElementsAre("keyDown(a)", "sleep(5.0)", "keyUp(a)", "keyDown(shift)",
                                           "sleep(0.5)", "keyUp(shift)"));
  EXPECT_EQ(run("hold_key"), error("hold_key requires text parameter"));
}

TEST_F(Actions, HoldKeyWithANegativeDurationReleasesTheKeyBeforeFailing) {
  EXPECT_EQ(run("hold_key", {{"text", "a"}, {"duration", -1}}),
            error("Action hold_key failed: sleep length must be non-negative"));
  EXPECT_THAT(platform->calls, ElementsAre("keyDown(a)", "keyUp(a)"));
}

TEST_F(Actions, HoldKeyWithADurationOfTheWrongKindPressesNothing) {
  EXPECT_EQ(run("hold_key", {{"text", "a"}, {"duration", "long"}})["type"], "error");
  EXPECT_THAT(platform->calls, IsEmpty());
}

TEST_F(Actions, MouseButtonsAndCursorPosition) {
  EXPECT_EQ(run("left_mouse_down", {{"coordinate", {714, 402}}}), text("Left mouse button down"));
  EXPECT_EQ(run("left_mouse_down", {{"coordinate", nullptr}}), text("Left mouse button down"));
  EXPECT_EQ(run("left_mouse_up"), text("Left mouse button up"));
  platform->pointer = {1919, 1079};
  EXPECT_EQ(run("cursor_position"), text("Cursor position: (1429, 803)"));
  EXPECT_THAT(platform->calls, ElementsAre("moveTo(958, 539, 0.1)", "mouseDown()", "mouseDown()",
                                           "mouseUp()", "position()"));
}

TEST_F(Actions, WithoutInputAutomationChecksStillAnswerAndTheRestFail) {
  platform->input_available = false;
  host::LogCapture log;
  EXPECT_EQ(run("left_click"), error("left_click requires coordinate [x, y]"));
  EXPECT_EQ(run("type"), error("type requires text parameter"));
  EXPECT_EQ(run("left_click", {{"coordinate", {1, 2}}}),
            error("Action left_click failed: no input automation"));
  EXPECT_EQ(run("scroll"), error("Action scroll failed: no input automation"));
  EXPECT_EQ(run("wait", {{"duration", 0}}), text("Waited 0.0s"));
  const auto records = log.records("orvane.pc.deskhand");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, spdlog::level::err);
  EXPECT_EQ(records[0].message, "Action left_click failed");
  EXPECT_THAT(records[0].trace, ::testing::HasSubstr("no input automation"));
}

}  // namespace
}  // namespace orvane::pc
