// The executor on a real X server (Xvfb): what reaches a window, where the pointer ends, what the
// clipboard holds, and what the screenshot shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Xlib's macros (None, Bool, ...) must come after the test framework.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <memory>

#include "image/image.hpp"
#include "orvane/common/file_io.hpp"
#include "orvane/host/log.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/base64_decode.hpp"
#include "support/captured_streams.hpp"
#include "support/fake_platform.hpp"
#include "support/xvfb.hpp"
#include "x11/x11_input.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using testing::TestWindow;
using testing::Xvfb;
using Events = std::vector<XEvent>;

Json text(const std::string& text) {
  return Json{{"type", "text"}, {"text", text}};
}

int count(const Events& events, int type, unsigned detail = 0) {
  int n = 0;
  for (const auto& e : events) {
    if (e.type != type) continue;
    if (detail == 0 ||
        ((type == ButtonPress || type == ButtonRelease) && e.xbutton.button == detail))
      ++n;
  }
  return n;
}

std::function<bool(const Events&)> has(int type, unsigned detail, int n = 1) {
  return [=](const Events& events) { return count(events, type, detail) >= n; };
}

std::pair<int, int> pointer(Display* display) {
  Window root = 0, child = 0;
  int x = 0, y = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
  return {x, y};
}

image::RgbImage decoded(const Json& result) {
  EXPECT_EQ(result["type"], "image") << result.dump().substr(0, 200);
  return image::decode_png(testing::base64_decode(result.value("base64", "")));
}

std::array<int, 3> pixel(const image::RgbImage& image, int x, int y) {
  const auto* p = &image.pixels[(std::size_t(y) * image.width + x) * 3];
  return {p[0], p[1], p[2]};
}

class OnXvfb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb = new Xvfb(1920, 1080);
    window = new TestWindow();
  }
  static void TearDownTestSuite() {
    delete window;
    delete xvfb;
  }
  void SetUp() override { window->clear(); }

  static inline Xvfb* xvfb = nullptr;
  static inline TestWindow* window = nullptr;
  testing::TempHome home;
  DeskhandExecutor executor;
};

TEST_F(OnXvfb, ClickLandsOnTheScreenPointUnderTheApiPoint) {
  EXPECT_EQ(executor.execute_action("left_click", {{"coordinate", {714, 402}}}),
            text("Clicked at (958, 539)"));
  EXPECT_EQ(pointer(window->display()), std::pair(958, 539));
  const auto events = window->wait_for(has(ButtonRelease, Button1));
  ASSERT_EQ(count(events, ButtonPress, Button1), 1);
  ASSERT_EQ(count(events, ButtonRelease, Button1), 1);
  for (const auto& e : events) {
    if (e.type == ButtonPress) {
      EXPECT_EQ(e.xbutton.x_root, 958);
      EXPECT_EQ(e.xbutton.y_root, 539);
    }
  }
}

TEST_F(OnXvfb, MouseMoveAndCursorPositionAgree) {
  EXPECT_EQ(executor.execute_action("mouse_move", {{"coordinate", {100, 700}}}),
            text("Moved cursor to (134, 939)"));
  EXPECT_EQ(pointer(window->display()), std::pair(134, 939));
  EXPECT_GT(count(window->wait_for(has(MotionNotify, 0, 3)), MotionNotify), 2);  // in steps
  EXPECT_EQ(executor.execute_action("cursor_position", Json::object()),
            text("Cursor position: (99, 699)"));
  executor.execute_action("mouse_move", {{"coordinate", {5000, 5000}}});
  EXPECT_EQ(executor.execute_action("cursor_position", Json::object()),
            text("Cursor position: (1429, 803)"));
}

TEST_F(OnXvfb, EachClickSendsItsButtonAndCount) {
  executor.execute_action("right_click", {{"coordinate", {10, 10}}});
  executor.execute_action("middle_click", {{"coordinate", {10, 10}}});
  executor.execute_action("double_click", {{"coordinate", {10, 10}}});
  executor.execute_action("triple_click", {{"coordinate", {10, 10}}});
  const auto events = window->wait_for(has(ButtonRelease, Button1, 5));
  EXPECT_EQ(count(events, ButtonPress, Button3), 1);
  EXPECT_EQ(count(events, ButtonPress, Button2), 1);
  EXPECT_EQ(count(events, ButtonPress, Button1), 5);
  EXPECT_EQ(count(events, ButtonRelease, Button1), 5);
}

TEST_F(OnXvfb, DragPressesMovesWithTheButtonDownAndReleasesAtTheEnd) {
  EXPECT_EQ(executor.execute_action("left_click_drag",
                                    {{"start_coordinate", {100, 100}}, {"coordinate", {714, 402}}}),
            text("Dragged from (134, 134) to (958, 539)"));
  const auto events = window->wait_for(has(ButtonRelease, Button1));
  int stage = 0;  // 0: before press, 1: pressed, 2: moved while pressed, 3: released
  for (const auto& e : events) {
    if (e.type == ButtonPress && stage == 0) {
      EXPECT_EQ(std::pair(e.xbutton.x_root, e.xbutton.y_root), std::pair(134, 134));
      stage = 1;
    } else if (e.type == MotionNotify && stage >= 1 && stage < 3) {
      EXPECT_TRUE(e.xmotion.state & Button1Mask);
      stage = 2;
    } else if (e.type == ButtonRelease && stage == 2) {
      EXPECT_EQ(std::pair(e.xbutton.x_root, e.xbutton.y_root), std::pair(958, 539));
      stage = 3;
    }
  }
  EXPECT_EQ(stage, 3);
}

TEST_F(OnXvfb, ScrollTurnsTheWheelThatMatchesTheDirection) {
  executor.execute_action("scroll", {{"coordinate", {50, 50}}, {"direction", "up"}, {"amount", 2}});
  executor.execute_action("scroll", Json::object());
  executor.execute_action("scroll", {{"direction", "left"}, {"amount", 1}});
  executor.execute_action("scroll", {{"direction", "right"}, {"amount", 4}});
  const auto events = window->wait_for(has(ButtonRelease, 7, 4));
  EXPECT_EQ(count(events, ButtonPress, 4), 2);
  EXPECT_EQ(count(events, ButtonPress, 5), 3);
  EXPECT_EQ(count(events, ButtonPress, 6), 1);
  EXPECT_EQ(count(events, ButtonPress, 7), 4);
  EXPECT_EQ(pointer(window->display()), std::pair(67, 67));
}

std::vector<std::pair<KeySym, unsigned>> key_presses(TestWindow& window, const Events& events) {
  std::vector<std::pair<KeySym, unsigned>> presses;
  for (auto e : events) {
    if (e.type == KeyPress) presses.emplace_back(window.keysym_of(e.xkey), e.xkey.state);
  }
  return presses;
}

TEST_F(OnXvfb, KeyChordsAndNamedKeysReachTheFocusedWindow) {
  EXPECT_EQ(executor.execute_action("key", {{"text", "ctrl+s"}}), text("Pressed: ctrl+s"));
  EXPECT_EQ(executor.execute_action("key", {{"text", "Return"}}), text("Pressed: enter"));
  const auto events = window->wait_for(has(KeyRelease, 0, 3));
  const auto presses = key_presses(*window, events);
  ASSERT_EQ(presses.size(), 3u);
  EXPECT_EQ(presses[0].first, static_cast<KeySym>(XK_Control_L));
  EXPECT_EQ(presses[1].first, static_cast<KeySym>(XK_s));
  EXPECT_TRUE(presses[1].second & ControlMask);
  EXPECT_EQ(presses[2].first, static_cast<KeySym>(XK_Return));
  EXPECT_FALSE(presses[2].second & ControlMask);  // ctrl was released
}

TEST_F(OnXvfb, HoldKeyKeepsTheKeyDownForTheDuration) {
  executor._ensure_initialized();
  host::LogCapture log;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(executor.execute_action("hold_key", {{"text", "Shift_L"}, {"duration", 0.2}}),
            text("Held shift_l for 0.2s"));
  EXPECT_EQ(executor.execute_action("hold_key", {{"text", "a"}, {"duration", 0.2}}),
            text("Held a for 0.2s"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  const auto events = window->wait_for(has(KeyRelease, 0, 1));
  const auto presses = key_presses(*window, events);
  ASSERT_EQ(presses.size(), 1u);  // "shift_l" is no key name; "a" is
  EXPECT_EQ(presses[0].first, static_cast<KeySym>(XK_a));
  EXPECT_EQ(count(events, KeyRelease), 1);
  EXPECT_TRUE(log.records("orvane.pc.deskhand").empty());  // an unknown name is ignored silently
}

TEST_F(OnXvfb, TypePastesThroughTheClipboard) {
  if (!host::program_exists("xclip")) GTEST_SKIP() << "xclip is not installed";
  const std::string typed = "héllo wörld ✓ \"quoted\" $HOME";
  Json result;
  // The tool stays behind holding the clipboard, but not the caller's output.
  EXPECT_TRUE(testing::streams_closed_after(
      [&] {
        result = executor.execute_action("type", {{"text", typed}});
      },
      std::chrono::seconds(2)));
  EXPECT_EQ(result, text("Typed: " + typed));
  host::ProcessOptions options;
  options.capture_output = true;
  options.timeout_seconds = 5;
  options.check = true;
  EXPECT_EQ(host::run_process({"xclip", "-o", "-selection", "clipboard"}, options).output, typed);
  const auto presses = key_presses(*window, window->wait_for(has(KeyRelease, 0, 2)));
  ASSERT_EQ(presses.size(), 2u);
  EXPECT_EQ(presses[0].first, static_cast<KeySym>(XK_Control_L));
  EXPECT_EQ(presses[1].first, static_cast<KeySym>(XK_v));
  EXPECT_TRUE(presses[1].second & ControlMask);
}

TEST_F(OnXvfb, WriteTypesCharactersTheKeymapLacks) {
  auto input = x11::X11Input::open();
  input->write("aZé€\n", 0.0);
  const auto presses = key_presses(*window, window->wait_for(has(KeyRelease, 0, 6)));
  std::vector<KeySym> keysyms;
  for (const auto& [keysym, state] : presses) keysyms.push_back(keysym);
  EXPECT_THAT(keysyms,
              ::testing::ElementsAre(XK_a, XK_Shift_L, XK_Z, XK_eacute, 0x010020ac, XK_Return));
}

TEST_F(OnXvfb, ScreenshotShowsTheScreenAtApiSizeAndKeepsTheSamePngOnDisk) {
  window->fill(0, 0, 1920, 1080, 0xffffff);
  window->fill(480, 270, 480, 270, 0xff0000);
  window->fill(1500, 900, 200, 100, 0x0000ff);
  const auto result = executor.execute_action("screenshot", Json::object());
  const auto image = decoded(result);
  ASSERT_EQ(image.width, 1429);
  ASSERT_EQ(image.height, 804);
  // The red block covers 357..714 x 201..401 at API size, the blue one 1117..1265 x 670..744.
  EXPECT_EQ(pixel(image, 530, 300), (std::array{255, 0, 0}));
  EXPECT_EQ(pixel(image, 1190, 707), (std::array{0, 0, 255}));
  EXPECT_EQ(pixel(image, 100, 100), (std::array{255, 255, 255}));
  EXPECT_EQ(pixel(image, 530, 420), (std::array{255, 255, 255}));
  EXPECT_EQ(pixel(image, 340, 300), (std::array{255, 255, 255}));
  EXPECT_EQ(common::read_file(home.latest_png()),
            testing::base64_decode(result["base64"].get<std::string>()));
  EXPECT_EQ(executor.get_display_info()["last_screenshot"], home.latest_png().string());
}

// The system platform with its input automation missing, so that screenshots take the fallback.
class WithoutInput final : public DesktopPlatform {
 public:
  std::shared_ptr<DesktopPlatform> real = make_system_platform();
  std::string system() override { return real->system(); }
  InputAutomation& input() override { throw std::runtime_error("no input automation"); }
  Clipboard* clipboard() override { return real->clipboard(); }
  std::pair<int, int> windows_screen_metrics() override { return real->windows_screen_metrics(); }
  host::ProcessResult run_process(const std::vector<std::string>& args,
                                  const host::ProcessOptions& options) override {
    return real->run_process(args, options);
  }
  std::optional<std::pair<int, int>> get_screen_size_linux() override {
    return real->get_screen_size_linux();
  }
  std::vector<std::string> get_screenshot_command() override { return {}; }
  void sleep(double seconds) override { real->sleep(seconds); }
};

TEST_F(OnXvfb, FallbackScreenshotWithScrotIsShrunkLikeThePrimaryOne) {
  if (!host::program_exists("scrot")) GTEST_SKIP() << "scrot is not installed";
  window->fill(0, 0, 1920, 1080, 0xffffff);
  window->fill(480, 270, 480, 270, 0x00ff00);
  DeskhandExecutor fallback(std::nullopt, std::make_shared<WithoutInput>());
  const auto image = decoded(fallback.execute_action("screenshot", Json::object()));
  ASSERT_EQ(image.width, 1429);
  EXPECT_EQ(pixel(image, 530, 300), (std::array{0, 255, 0}));
  EXPECT_EQ(pixel(image, 100, 100), (std::array{255, 255, 255}));
  const auto on_disk = image::read_png_file(home.latest_png());
  EXPECT_EQ(on_disk.width, 1429);
  EXPECT_EQ(on_disk.pixels, image.pixels);
}

TEST(OnSmallXvfb, ScreenOfFactorOneIsUsedAsItIs) {
  Xvfb xvfb(1280, 800);
  TestWindow window;
  testing::TempHome home;
  DeskhandExecutor executor(1);
  EXPECT_EQ(executor.get_tool_definition(), (Json{{"type", "computer_20250124"},
                                                  {"name", "computer"},
                                                  {"display_width_px", 1280},
                                                  {"display_height_px", 800},
                                                  {"display_number", 1}}));
  EXPECT_EQ(executor.get_display_info()["scale_factor"], 1.0);
  window.fill(0, 0, 1280, 800, 0xffffff);
  window.fill(100, 100, 10, 10, 0xff0000);
  const auto image = decoded(executor.execute_action("screenshot", Json::object()));
  ASSERT_EQ(image.width, 1280);
  ASSERT_EQ(image.height, 800);
  EXPECT_EQ(pixel(image, 100, 100), (std::array{255, 0, 0}));
  EXPECT_EQ(pixel(image, 109, 109), (std::array{255, 0, 0}));
  EXPECT_EQ(pixel(image, 110, 110), (std::array{255, 255, 255}));
  EXPECT_EQ(executor.execute_action("left_click", {{"coordinate", {1279, 799}}}),
            text("Clicked at (1279, 799)"));
  EXPECT_EQ(pointer(window.display()), std::pair(1279, 799));
  // At factor 1.0 points are not clamped by the executor; far-off ones stop at the screen's edge
  // instead of wrapping around.
  EXPECT_EQ(executor.execute_action("mouse_move", {{"coordinate", {100000, -2147483648LL}}}),
            text("Moved cursor to (100000, -2147483648)"));
  EXPECT_EQ(pointer(window.display()), std::pair(1279, 0));
  EXPECT_EQ(executor.execute_action("left_click", {{"coordinate", {-70000, 2147483647}}}),
            text("Clicked at (-70000, 2147483647)"));
  EXPECT_EQ(pointer(window.display()), std::pair(0, 799));
}

TEST(LostDisplay, AnEndedServerFailsTheActionAndTheNextServerIsUsed) {
  testing::TempHome home;
  DeskhandExecutor executor;
  {
    Xvfb first(1280, 800);
    EXPECT_EQ(executor.execute_action("mouse_move", {{"coordinate", {10, 10}}}),
              text("Moved cursor to (10, 10)"));
  }
  // The server is gone: the action fails and the process carries on.
  EXPECT_THAT(
      executor.execute_action("left_click", {{"coordinate", {20, 20}}})["error"].get<std::string>(),
      ::testing::StartsWith("Action left_click failed: "));
  Xvfb second(1280, 800);
  EXPECT_EQ(executor.execute_action("left_click", {{"coordinate", {20, 20}}}),
            text("Clicked at (20, 20)"));
}

}  // namespace
}  // namespace orvane::pc
