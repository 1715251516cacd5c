// Input and capture on a real wlroots compositor (headless sway): what reaches a window of the
// test's own, and what the screen copy shows, on an output at scale 2 and one at scale 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "image/image.hpp"
#include "orvane/host/log.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/base64_decode.hpp"
#include "support/captured_streams.hpp"
#include "support/fake_platform.hpp"
#include "support/sway.hpp"
#include "wayland/wayland_input.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using testing::ClientEvent;
using testing::PatternClient;
using testing::Sway;
using Events = std::vector<ClientEvent>;
using namespace std::chrono_literals;

std::function<bool(const Events&)> has(ClientEvent::Type type, int n) {
  return [=](const Events& events) {
    return std::count_if(events.begin(), events.end(),
                         [&](const ClientEvent& e) { return e.type == type; }) >= n;
  };
}

Events only(const Events& events, ClientEvent::Type type) {
  Events kept;
  for (const auto& e : events)
    if (e.type == type) kept.push_back(e);
  return kept;
}

class OnSway : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sway = new Sway();
    input = wayland::WaylandInput::open().release();  // the seat's first pointer and keyboard
    window = new PatternClient(sway->socket());
  }
  static void TearDownTestSuite() {
    delete window;
    delete input;
    delete sway;
  }
  void SetUp() override {
    window->wait_for([](const Events&) { return false; }, std::chrono::milliseconds(30));
    window->clear();
  }

  static inline Sway* sway = nullptr;
  static inline PatternClient* window = nullptr;
  static inline wayland::WaylandInput* input = nullptr;
};

TEST_F(OnSway, CaptureIsTheScaledOutputPixelForPixelAndItsSizeIsTheMode) {
  ASSERT_EQ(window->scale(), 2);
  EXPECT_EQ(input->screen_size(), std::pair(2560, 1440));
  // A headless output draws the cursor into the frame: parked in the corner, it can cover only
  // the few pixels around its hot spot (its shadow reaches a little up and left).
  input->moveTo(2559, 1439, 0);
  const ScreenCapture capture = input->screenshot();
  ASSERT_EQ(capture.width, 2560);
  ASSERT_EQ(capture.height, 1440);
  long wrong = 0;
  for (int y = 0; y < capture.height; ++y) {
    for (int x = 0; x < capture.width; ++x) {
      if (x >= 2552 && y >= 1432) continue;
      const auto* p = &capture.rgb[(std::size_t(y) * capture.width + x) * 3];
      const std::uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
      if (rgb != PatternClient::pattern(x, y) && wrong++ < 3)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << rgb;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(OnSway, TheOtherOutputAtScaleOneShowsItsBackground) {
  input->moveTo(1000, 700, 0);  // the cursor well inside the first output
  auto other = wayland::WaylandInput::open(nullptr, "HEADLESS-2");
  EXPECT_EQ(other->screen_size(), std::pair(1920, 1080));
  const ScreenCapture capture = other->screenshot();
  ASSERT_EQ(capture.width, 1920);
  ASSERT_EQ(capture.height, 1080);
  const std::vector<std::uint8_t> background{0x88, 0x44, 0x22};
  for (std::size_t i = 0; i < capture.rgb.size(); i += 3) {
    ASSERT_TRUE(std::equal(background.begin(), background.end(), capture.rgb.begin() + i))
        << "at pixel " << i / 3;
  }
}

TEST_F(OnSway, ClicksLandOnTheOutputPixelWhateverItsScale) {
  struct Case {
    int x, y;
    double surface_x, surface_y;
    void (*act)(wayland::WaylandInput&, int, int);
    std::uint32_t button;
    int presses;
  };
  const Case cases[] = {
      {2001, 1001, 1000.5, 500.5, [](auto& in, int x, int y) { in.click(x, y); }, BTN_LEFT, 1},
      {10, 20, 5, 10, [](auto& in, int x, int y) { in.rightClick(x, y); }, BTN_RIGHT, 1},
      {2559, 1439, 1279.5, 719.5, [](auto& in, int x, int y) { in.middleClick(x, y); }, BTN_MIDDLE,
       1},
      // Off the output: stops at its edge.
      {-40, 5000, 0, 719.5, [](auto& in, int x, int y) { in.doubleClick(x, y); }, BTN_LEFT, 2},
  };
  for (const auto& c : cases) {
    window->clear();
    c.act(*input, c.x, c.y);
    const auto events = window->wait_for(has(ClientEvent::Button, 2 * c.presses));
    const auto buttons = only(events, ClientEvent::Button);
    ASSERT_EQ(buttons.size(), std::size_t(2 * c.presses)) << c.x << "," << c.y;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      EXPECT_EQ(buttons[i].code, c.button);
      EXPECT_EQ(buttons[i].pressed, i % 2 == 0);
    }
    const auto moves = only(events, ClientEvent::Motion);
    ASSERT_FALSE(moves.empty());
    EXPECT_DOUBLE_EQ(moves.back().x, c.surface_x) << c.x;
    EXPECT_DOUBLE_EQ(moves.back().y, c.surface_y) << c.y;
    EXPECT_EQ(input->position(), std::pair(std::clamp(c.x, 0, 2559), std::clamp(c.y, 0, 1439)));
  }
}

TEST_F(OnSway, WheelStepsKeepTheirCountAndSign) {
  input->moveTo(600, 600, 0.05);
  input->scroll(3);    // up
  input->hscroll(-2);  // left
  const auto axes = only(window->wait_for(has(ClientEvent::Axis, 5)), ClientEvent::Axis);
  ASSERT_EQ(axes.size(), 5u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(axes[i].code, WL_POINTER_AXIS_VERTICAL_SCROLL);
    EXPECT_EQ(axes[i].discrete, -1);
  }
  for (int i = 3; i < 5; ++i) {
    EXPECT_EQ(axes[i].code, WL_POINTER_AXIS_HORIZONTAL_SCROLL);
    EXPECT_EQ(axes[i].discrete, -1);
  }
}

TEST_F(OnSway, KeysAndHotkeysArriveInOrderWithTheirModifiers) {
  input->press("enter");
  input->hotkey({"ctrl", "shift", "t"});
  input->press("f5");
  input->press("nosuchkey");  // ignored
  const auto keys = only(window->wait_for(has(ClientEvent::Key, 10)), ClientEvent::Key);
  std::vector<std::pair<std::uint32_t, bool>> seen;
  for (const auto& k : keys) seen.emplace_back(k.code, k.pressed);
  const std::vector<std::pair<std::uint32_t, bool>> expected{
      {XKB_KEY_Return, true},   {XKB_KEY_Return, false},    {XKB_KEY_Control_L, true},
      {XKB_KEY_Shift_L, true},  {XKB_KEY_T, true},          {XKB_KEY_T, false},
      {XKB_KEY_Shift_L, false}, {XKB_KEY_Control_L, false}, {XKB_KEY_F5, true},
      {XKB_KEY_F5, false}};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(keys.size(), expected.size());
  const std::uint32_t control = window->modifier_mask(XKB_MOD_NAME_CTRL);
  const std::uint32_t shift = window->modifier_mask(XKB_MOD_NAME_SHIFT);
  EXPECT_EQ(keys[4].modifiers & (control | shift), control | shift);
  EXPECT_EQ(keys[8].modifiers, 0u);  // nothing left held
}

TEST_F(OnSway, TypedTextArrivesWholeAsciiOrNot) {
  const std::string text = "Hi, café ß€ — 日本 😀!\tok";
  input->write(text, 0);
  std::string typed;
  window->wait_for(
      [&](const Events& events) {
        std::string so_far;
        for (const auto& e : events)
          if (e.type == ClientEvent::Key && e.pressed && e.code != XKB_KEY_Shift_L)
            so_far += e.text;
        typed = so_far;
        return so_far.size() >= text.size();
      },
      std::chrono::seconds(5));
  EXPECT_EQ(typed, text);
}

TEST_F(OnSway, ThePointerIsFoundWhereAnotherConnectionLeftItWithoutMovingIt) {
  for (const auto& point :
       {std::pair(100, 100), std::pair(2001, 1001), std::pair(0, 0), std::pair(2559, 1439)}) {
    input->moveTo(point.first, point.second, 0);
    window->wait_for(has(ClientEvent::Motion, 1));
    window->clear();
    EXPECT_EQ(wayland::WaylandInput::open()->position(), point);
    const auto moves =
        only(window->wait_for(has(ClientEvent::Motion, 99), 100ms), ClientEvent::Motion);
    for (const auto& moved : moves)  // only the window's re-entry where the pointer is
      EXPECT_EQ((std::pair{moved.x * 2, moved.y * 2}), (std::pair<double, double>{point}));
  }
  input->moveTo(100, 100, 0);  // 100 x 1429 / 2560 in API pixels
  EXPECT_EQ(DeskhandExecutor().execute_action("cursor_position"),
            Json({{"type", "text"}, {"text", "Cursor position: (55, 55)"}}));
  // On another output: not over this one's overlay, and no point of our own to answer.
  wayland::WaylandInput::open(nullptr, "HEADLESS-2")->moveTo(10, 20, 0);
  EXPECT_THROW(wayland::WaylandInput::open()->position(), std::runtime_error);
  EXPECT_EQ(wayland::WaylandInput::open(nullptr, "HEADLESS-2")->position(), std::pair(10, 20));
}

TEST_F(OnSway, TheClipboardToolKeepsTheTextButNotOurStreams) {
  if (!host::program_exists("wl-copy")) GTEST_SKIP() << "wl-clipboard is not installed";
  const auto platform = make_system_platform();
  Clipboard* clipboard = platform->clipboard();
  ASSERT_NE(clipboard, nullptr);
  EXPECT_TRUE(testing::streams_closed_after([&] { clipboard->copy("wörld ✓"); }, 2s));
  host::ProcessOptions options;
  options.capture_output = true;
  options.timeout_seconds = 5;
  EXPECT_EQ(host::run_process({"wl-paste", "--no-newline"}, options).output, "wörld ✓");
}

TEST_F(OnSway, TheExecutorChoosesWaylandAndActsOnTheOutput) {
  host::LogCapture logs;
  DeskhandExecutor executor;
  const Json result = executor.execute_action("left_click", {{"coordinate", {714, 402}}});
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(result.value("text", "").c_str(), "Clicked at (%d, %d)", &x, &y), 2)
      << result.dump();
  const auto moves = only(window->wait_for(has(ClientEvent::Button, 2)), ClientEvent::Motion);
  ASSERT_FALSE(moves.empty());
  EXPECT_DOUBLE_EQ(moves.back().x * 2, x);
  EXPECT_DOUBLE_EQ(moves.back().y * 2, y);

  testing::TempHome home;
  const Json shot = executor.execute_action("screenshot");
  ASSERT_EQ(shot.value("type", ""), "image") << shot.dump().substr(0, 200);
  const auto image = image::decode_png(testing::base64_decode(shot.value("base64", "")));
  EXPECT_EQ(image.width, 1429);  // the API size of 2560x1440
  EXPECT_EQ(image.height, 804);
  EXPECT_EQ(executor.get_tool_definition()["display_width_px"], 1429);
}

// Another client of a seat that had no pointer or keyboard binds them only when the seat
// announces them; a burst sent at once must still reach it whole.
TEST(OnAFreshSeat, TheFirstClicksAndKeysOfANewConnectionAllArrive) {
  Sway sway;
  PatternClient window(sway.socket());
  window.take_up_delay = 60ms;
  std::thread burst([] {
    auto input = wayland::WaylandInput::open();
    for (int i = 0; i < 14; ++i) input->click(100 + 20 * i, 200);
    for (const char* key : {"a", "b", "c", "d", "e", "f", "g", "h"}) input->press(key);
  });
  const auto events = window.wait_for([](const Events& e) {
    return has(ClientEvent::Button, 28)(e) && has(ClientEvent::Key, 16)(e);
  });
  burst.join();
  EXPECT_EQ(only(events, ClientEvent::Button).size(), 28u);
  EXPECT_EQ(only(events, ClientEvent::Key).size(), 16u);
}

TEST(WaylandChoice, ForcedWaylandWithoutACompositorFailsNamingTheReason) {
  const char* old_wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string saved = old_wayland ? old_wayland : "";
  setenv("ORVANE_DESKTOP", "wayland", 1);
  setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-9", 1);
  DeskhandExecutor executor;
  const Json result = executor.execute_action("left_click", {{"coordinate", {10, 10}}});
  unsetenv("ORVANE_DESKTOP");
  if (old_wayland) {
    setenv("WAYLAND_DISPLAY", saved.c_str(), 1);
  } else {
    unsetenv("WAYLAND_DISPLAY");
  }
  EXPECT_EQ(result.value("type", ""), "error");
  EXPECT_THAT(result.value("error", ""),
              ::testing::HasSubstr("no Wayland desktop to automate: cannot connect to the "
                                   "Wayland display /nonexistent/wayland-9"));
}

}  // namespace
}  // namespace orvane::pc
