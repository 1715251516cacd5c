// Input and capture on a real GNOME compositor (headless Mutter on a private session bus and
// PipeWire): what reaches a window of the test's own, and what the screen cast shows, on a
// monitor at scale 2 (the window's surface points are half the screen's pixels).
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <thread>

#include "gnome/gnome_input.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/executor_answers.hpp"
#include "support/mutter.hpp"
#include "support/sway.hpp"
#include "support/xvfb.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using testing::ClientEvent;
using testing::PatternClient;
using Events = std::vector<ClientEvent>;
using namespace std::chrono_literals;

constexpr int WIDTH = 1920, HEIGHT = 1080, SCALE = 2;

std::function<bool(const Events&)> has(ClientEvent::Type type, std::size_t n) {
  return [=](const Events& events) {
    return std::size_t(std::count_if(events.begin(), events.end(),
                                     [&](const ClientEvent& e) { return e.type == type; })) >= n;
  };
}

Events only(const Events& events, ClientEvent::Type type) {
  Events kept;
  std::copy_if(events.begin(), events.end(), std::back_inserter(kept),
               [&](const ClientEvent& e) { return e.type == type; });
  return kept;
}

class OnMutter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mutter = new testing::Mutter(WIDTH, HEIGHT, SCALE);
    // Mutter's names reach the bus a moment after its display socket.
    for (int attempt = 0; !input; ++attempt) {
      try {
        input = gnome::GnomeInput::open().release();
      } catch (const gnome::MutterUnavailable&) {
        if (attempt == 100) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    window = new PatternClient(mutter->socket());
  }
  static void TearDownTestSuite() {
    delete window;
    delete input;
    delete mutter;
  }
  void SetUp() override {
    window->wait_for([](const Events&) { return false; }, std::chrono::milliseconds(30));
    window->clear();
  }

  static inline testing::Mutter* mutter = nullptr;
  static inline gnome::GnomeInput* input = nullptr;
  static inline PatternClient* window = nullptr;
};

TEST_F(OnMutter, CaptureIsTheMonitorPixelForPixelAndItsSizeIsTheScreenCasts) {
  EXPECT_EQ(input->screen_size(), std::pair(WIDTH, HEIGHT));
  ASSERT_EQ(window->scale(), SCALE);
  const auto first_wrong = [](const ScreenCapture& capture) -> long {
    for (long i = 0; i < long{WIDTH} * HEIGHT; ++i) {
      const auto* p = &capture.rgb[std::size_t(i) * 3];
      const std::uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
      if (rgb != PatternClient::pattern(int(i % WIDTH), int(i / WIDTH))) return i;
    }
    return -1;
  };
  // Mutter shows a new window with an animation: a loaded machine may still be in it.
  ScreenCapture capture = input->screenshot();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (first_wrong(capture) >= 0 && std::chrono::steady_clock::now() < deadline) {
    window->wait_for([](const Events&) { return false; }, 100ms);
    capture = input->screenshot();
  }
  ASSERT_EQ(capture.width, WIDTH);
  ASSERT_EQ(capture.height, HEIGHT);
  EXPECT_EQ(first_wrong(capture), -1);
}

TEST_F(OnMutter, ClicksLandOnTheMappedPixel) {
  struct Case {
    int x, y;
    void (*act)(gnome::GnomeInput&, int, int);
    std::uint32_t button;
    int presses;
    double at_x, at_y;
  };
  const Case cases[] = {
      {641, 333, [](auto& in, int x, int y) { in.click(x, y); }, BTN_LEFT, 1, 641, 333},
      {1001, 77, [](auto& in, int x, int y) { in.click(x, y, 3); }, BTN_LEFT, 3, 1001, 77},
      {0, 0, [](auto& in, int x, int y) { in.rightClick(x, y); }, BTN_RIGHT, 1, 0, 0},
      {WIDTH - 1, HEIGHT - 1, [](auto& in, int x, int y) { in.middleClick(x, y); }, BTN_MIDDLE, 1,
       WIDTH - 1, HEIGHT - 1},
      // Off the monitor: stops at its edge.
      {-40, 5000, [](auto& in, int x, int y) { in.doubleClick(x, y); }, BTN_LEFT, 2, 0, HEIGHT - 1},
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
    EXPECT_DOUBLE_EQ(moves.back().x * SCALE, c.at_x) << c.x;
    EXPECT_DOUBLE_EQ(moves.back().y * SCALE, c.at_y) << c.y;
    EXPECT_EQ(input->position(), std::pair(int(c.at_x), int(c.at_y)));
  }
}

TEST_F(OnMutter, WheelStepsKeepTheirCountAndSign) {
  input->moveTo(600, 600, 0.05);
  input->scroll(3);   // up
  input->hscroll(2);  // right
  int vertical = 0, horizontal = 0;
  window->wait_for([&](const Events& events) {
    vertical = horizontal = 0;
    for (const auto& axis : only(events, ClientEvent::Axis))
      (axis.code == WL_POINTER_AXIS_VERTICAL_SCROLL ? vertical : horizontal) += axis.discrete;
    return vertical == -3 && horizontal == 2;
  });
  EXPECT_EQ(vertical, -3);
  EXPECT_EQ(horizontal, 2);
}

TEST_F(OnMutter, KeysHotkeysAndTextArriveInOrderAndWhole) {
  input->press("enter");
  input->hotkey({"ctrl", "shift", "t"});
  input->press("nosuchkey");  // ignored
  const auto keys = only(window->wait_for(has(ClientEvent::Key, 8)), ClientEvent::Key);
  std::vector<std::pair<std::uint32_t, bool>> seen;
  for (const auto& k : keys) seen.emplace_back(k.code, k.pressed);
  const std::vector<std::pair<std::uint32_t, bool>> expected{
      {XKB_KEY_Return, true},   {XKB_KEY_Return, false},   {XKB_KEY_Control_L, true},
      {XKB_KEY_Shift_L, true},  {XKB_KEY_T, true},         {XKB_KEY_T, false},
      {XKB_KEY_Shift_L, false}, {XKB_KEY_Control_L, false}};
  EXPECT_EQ(seen, expected);

  // Characters the keymap lacks go through the clipboard, which the window reads on Ctrl+V.
  const std::string text = "Grüße ✓ 日本 😀!";
  window->clear();
  std::thread typist([&] { input->write(text, 0); });
  std::string typed;
  window->wait_for(
      [&](const Events& events) {
        typed.clear();
        for (const auto& e : events) {
          const bool character = e.type == ClientEvent::Key && e.pressed && !e.text.empty() &&
                                 !(e.modifiers & window->modifier_mask(XKB_MOD_NAME_CTRL));
          if (character || e.type == ClientEvent::Paste) typed += e.text;
        }
        return typed.size() >= text.size();
      },
      std::chrono::seconds(8));
  typist.join();
  EXPECT_EQ(typed, text);
}

// The executor's answers on GNOME are those on an X screen of the same size, action for action;
// a screenshot is compared by its decoded size.
TEST_F(OnMutter, TheExecutorAnswersAsOnAnXScreenOfTheSameSize) {
  const auto settle = [] { window->wait_for([](const Events&) { return false; }, 20ms); };
  const auto on_gnome = testing::executor_answers("gnome", settle);
  testing::Xvfb xvfb(WIDTH, HEIGHT);
  testing::TestWindow x_window;
  const auto on_x = testing::executor_answers("x11", [] {});
  ASSERT_EQ(on_gnome.size(), on_x.size());
  for (std::size_t i = 0; i < on_x.size(); ++i)
    EXPECT_EQ(on_gnome[i].answer, on_x[i].answer) << on_x[i].action;
  EXPECT_EQ(on_gnome.front().answer["base64"], "1429x804");
}

}  // namespace
}  // namespace orvane::pc
