// Input and capture on a real KWin (headless, output scale 2): what reaches a window of the
// test's own, and what the capture shows. KWin 5.27 sends no frames from its --virtual outputs'
// casts, so here the capture comes from its screenshot service after the cast showed nothing.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <thread>

#include "kde/kde_input.hpp"
#include "kde/kwin_screenshot.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/executor_answers.hpp"
#include "support/kwin.hpp"
#include "support/session_services.hpp"
#include "support/sway.hpp"
#include "support/xvfb.hpp"

namespace orvane::pc {
namespace {

using testing::ClientEvent;
using testing::PatternClient;
using Events = std::vector<ClientEvent>;
using namespace std::chrono_literals;

constexpr int WIDTH = 2560, HEIGHT = 1440;  // the output's pixels: 1280x720 at scale 2

Events only(const Events& events, ClientEvent::Type type) {
  Events kept;
  for (const auto& e : events)
    if (e.type == type) kept.push_back(e);
  return kept;
}

std::function<bool(const Events&)> has(ClientEvent::Type type, std::size_t n) {
  return [=](const Events& events) { return only(events, type).size() >= n; };
}

class OnKWin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session = new testing::SessionServices();
    kwin = new testing::KWin(*session, WIDTH / 2, HEIGHT / 2, 2);
    platform = make_system_platform();
    input = kde::KdeInput::open(platform->clipboard()).release();
    window = new PatternClient(kwin->socket());
  }
  static void TearDownTestSuite() {
    delete window;
    delete input;
    platform.reset();
    delete kwin;
    delete session;
  }
  void SetUp() override {
    window->wait_for([](const Events&) { return false; }, 30ms);
    window->clear();
  }

  static inline testing::SessionServices* session = nullptr;
  static inline testing::KWin* kwin = nullptr;
  static inline std::shared_ptr<DesktopPlatform> platform;
  static inline kde::KdeInput* input = nullptr;
  static inline PatternClient* window = nullptr;
};

TEST_F(OnKWin, CaptureIsTheScaledOutputPixelForPixelAndItsSizeIsTheMode) {
  ASSERT_EQ(window->scale(), 2);
  EXPECT_EQ(input->screen_size(), std::pair(WIDTH, HEIGHT));
  input->moveTo(1000, 700, 0);  // over the window: a cursor, if drawn, would show
  const ScreenCapture capture = input->screenshot();
  ASSERT_EQ(capture.width, WIDTH);
  ASSERT_EQ(capture.height, HEIGHT);
  long wrong = 0;
  for (int y = 0; y < capture.height; ++y) {
    for (int x = 0; x < capture.width; ++x) {
      const auto* p = &capture.rgb[(std::size_t(y) * capture.width + x) * 3];
      const std::uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
      if (rgb != PatternClient::pattern(x, y) && wrong++ < 3)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << rgb;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(OnKWin, ClicksLandOnTheOutputPixel) {
  struct Case {
    int x, y;
    double surface_x, surface_y;
    void (*act)(kde::KdeInput&, int, int);
    std::uint32_t button;
    int presses;
  };
  const Case cases[] = {
      // KWin's pointer stands on whole logical pixels: the one that holds the point.
      {2001, 1001, 1000, 500, [](auto& in, int x, int y) { in.click(x, y); }, BTN_LEFT, 1},
      {0, 0, 0, 0, [](auto& in, int x, int y) { in.rightClick(x, y); }, BTN_RIGHT, 1},
      {2559, 1439, 1279, 719, [](auto& in, int x, int y) { in.middleClick(x, y); }, BTN_MIDDLE, 1},
      {2559, 0, 1279, 0, [](auto& in, int x, int y) { in.click(x, y); }, BTN_LEFT, 1},
      // Off the output: stops at its edge.
      {-40, 5000, 0, 719, [](auto& in, int x, int y) { in.doubleClick(x, y); }, BTN_LEFT, 2},
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
    ASSERT_FALSE(moves.empty()) << c.x << "," << c.y;
    EXPECT_DOUBLE_EQ(moves.back().x, c.surface_x) << c.x;
    EXPECT_DOUBLE_EQ(moves.back().y, c.surface_y) << c.y;
    EXPECT_EQ(input->position(), std::pair(std::clamp(c.x, 0, 2559), std::clamp(c.y, 0, 1439)));
  }
}

TEST_F(OnKWin, WheelStepsKeepTheirCountAndSign) {
  input->moveTo(600, 600, 0.05);
  input->scroll(3);    // up
  input->hscroll(-2);  // left
  input->scroll(-1);   // down
  input->hscroll(1);   // right
  const auto axes = only(window->wait_for(has(ClientEvent::AxisValue, 7)), ClientEvent::AxisValue);
  std::vector<std::pair<std::uint32_t, double>> seen;
  for (const auto& a : axes) seen.emplace_back(a.code, a.value);
  constexpr auto V = WL_POINTER_AXIS_VERTICAL_SCROLL;
  constexpr auto H = WL_POINTER_AXIS_HORIZONTAL_SCROLL;
  const std::vector<std::pair<std::uint32_t, double>> expected{
      {V, -15}, {V, -15}, {V, -15}, {H, -15}, {H, -15}, {V, 15}, {H, 15}};
  EXPECT_EQ(seen, expected);
}

TEST_F(OnKWin, KeysAndHotkeysArriveInOrderWithTheirModifiers) {
  input->press("enter");
  input->hotkey({"ctrl", "shift", "t"});
  input->press("f5");
  input->press("nosuchkey");  // ignored
  input->press("A");          // Shift added for it
  const auto keys = only(window->wait_for(has(ClientEvent::Key, 14)), ClientEvent::Key);
  std::vector<std::pair<std::uint32_t, bool>> seen;
  for (const auto& k : keys) seen.emplace_back(k.code, k.pressed);
  const std::vector<std::pair<std::uint32_t, bool>> expected{
      {XKB_KEY_Return, true},   {XKB_KEY_Return, false},    {XKB_KEY_Control_L, true},
      {XKB_KEY_Shift_L, true},  {XKB_KEY_T, true},          {XKB_KEY_T, false},
      {XKB_KEY_Shift_L, false}, {XKB_KEY_Control_L, false}, {XKB_KEY_F5, true},
      {XKB_KEY_F5, false},      {XKB_KEY_Shift_L, true},    {XKB_KEY_A, true},
      {XKB_KEY_A, false},       {XKB_KEY_Shift_L, false}};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(keys.size(), expected.size());
  const std::uint32_t control = window->modifier_mask(XKB_MOD_NAME_CTRL);
  const std::uint32_t shift = window->modifier_mask(XKB_MOD_NAME_SHIFT);
  EXPECT_EQ(keys[4].modifiers & (control | shift), control | shift);
  EXPECT_EQ(keys[8].modifiers, 0u);  // nothing left held
}

TEST_F(OnKWin, WhatAClosedInputStillHeldIsReleased) {
  kde::KdeInput::open()->keyDown("shift");
  auto other = kde::KdeInput::open();
  other->moveTo(300, 300, 0);
  other->mouseDown();
  other.reset();
  const auto events = window->wait_for([](const Events& e) {
    return has(ClientEvent::Key, 2)(e) && has(ClientEvent::Button, 2)(e);
  });
  const auto keys = only(events, ClientEvent::Key);
  const auto buttons = only(events, ClientEvent::Button);
  ASSERT_EQ(keys.size(), 2u);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(keys[1].code, XKB_KEY_Shift_L);
  EXPECT_FALSE(keys[1].pressed);
  EXPECT_EQ(buttons[1].code, BTN_LEFT);
  EXPECT_FALSE(buttons[1].pressed);
}

// What KWin's keymap lacks is pasted: each Ctrl+V is read back from the clipboard as a pasting
// program would, at once.
TEST_F(OnKWin, TypedTextArrivesWholeWithWhatNoKeyTypesPasted) {
  if (!host::program_exists("wl-paste")) GTEST_SKIP() << "wl-clipboard is not installed";
  const std::string text = "Grüße ✓ 日本 😀!";
  std::thread writer([&] { input->write(text, 0); });
  const std::uint32_t control = window->modifier_mask(XKB_MOD_NAME_CTRL);
  host::ProcessOptions options;
  options.capture_output = true;
  options.timeout_seconds = 5;
  std::string typed;
  std::size_t seen = 0;
  window->wait_for(
      [&](const Events& events) {
        for (; seen < events.size(); ++seen) {
          const auto& e = events[seen];
          if (e.type != ClientEvent::Key || !e.pressed) continue;
          if (e.code == XKB_KEY_v && (e.modifiers & control)) {
            typed += host::run_process({"wl-paste", "--no-newline"}, options).output;
          } else if (!(e.modifiers & control)) {
            typed += e.text;
          }
        }
        return typed.size() >= text.size();
      },
      10s);
  writer.join();
  EXPECT_EQ(typed, text);
}

// What a host must install: without a .desktop file naming the program, KWin offers it neither.
// Chosen by the system platform on a KDE session, the executor answers as on an X screen of the
// same size, action for action (a screenshot compared by its decoded size).
TEST_F(OnKWin, TheExecutorChoosesKdeAndAnswersAsOnAnXScreenOfTheSameSize) {
  const auto settle = [] { window->wait_for([](const Events&) { return false; }, 20ms); };
  const auto on_kde = testing::executor_answers("", settle);
  testing::Xvfb xvfb(WIDTH, HEIGHT);
  testing::TestWindow x_window;
  const auto on_x = testing::executor_answers("x11", [] {});
  ASSERT_EQ(on_kde.size(), on_x.size());
  for (std::size_t i = 0; i < on_x.size(); ++i)
    EXPECT_EQ(on_kde[i].answer, on_x[i].answer) << on_x[i].action;
  EXPECT_EQ(on_kde.front().answer["base64"], "1429x804");
}

TEST(OnKWinWithoutTheDesktopFile, FakeInputCastsAndScreenshotsAreWithheld) {
  testing::SessionServices session;
  testing::KWin kwin(session, 640, 480, 1, false);
  try {
    kde::KdeInput::open();
    ADD_FAILURE() << "KWin granted fake input";
  } catch (const wayland::MissingProtocols& missing) {
    EXPECT_EQ(missing.missing(), (std::vector<std::string>{"org_kde_kwin_fake_input version 4",
                                                           "zkde_screencast_unstable_v1"}));
  }
  try {
    kde::kwin_screenshot("Virtual-0");
    ADD_FAILURE() << "KWin granted a screenshot";
  } catch (const std::runtime_error& refused) {
    EXPECT_STREQ(refused.what(),
                 "KWin refused a screenshot of Virtual-0: The process is not "
                 "authorized to take a screenshot");
  }
}

}  // namespace
}  // namespace orvane::pc
