// The Windows input, capture and clipboard on the real desktop, seen by a probe window of ours
// over the primary screen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "image/image.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"
#include "windows/clipboard.hpp"
#include "windows/probe_window.hpp"
#include "windows/windows_input.hpp"

namespace orvane::pc {
namespace {

using namespace std::chrono_literals;
using Act = std::function<void(InputAutomation&)>;

// Mouse messages as "down@x,y", "dbl@x,y", "wheel+120"; keys as "+11" (down) and "-11" (up).
std::string describe(const testing::ProbeEvent& e) {
  char text[48];
  const bool wheel = e.message == WM_MOUSEWHEEL || e.message == WM_MOUSEHWHEEL;
  if (e.message <= WM_SYSKEYUP) {
    const bool down = e.message == WM_KEYDOWN || e.message == WM_SYSKEYDOWN;
    std::snprintf(text, sizeof text, "%c%02x", down ? '+' : '-', static_cast<int>(e.wparam));
  } else if (wheel) {
    std::snprintf(text, sizeof text, "%swheel%+d", e.message == WM_MOUSEWHEEL ? "" : "h",
                  GET_WHEEL_DELTA_WPARAM(e.wparam));
  } else {
    const char* names[] = {"down", "up", "dbl", "right", "rup", "rdbl", "middle", "mup", "mdbl"};
    std::snprintf(text, sizeof text, "%s@%ld,%ld", names[e.message - WM_LBUTTONDOWN], e.point.x,
                  e.point.y);
  }
  return text;
}

class WindowsDesktop : public ::testing::Test {
 protected:
  std::unique_ptr<windows::WindowsInput> input = windows::WindowsInput::open();
  testing::ProbeWindow probe;
  int width = probe.area().right, height = probe.area().bottom;

  // The first `count` events (characters or the others), and any more within 150 ms.
  std::vector<testing::ProbeEvent> events(std::size_t count, bool characters) {
    std::vector<testing::ProbeEvent> kept;
    for (auto end = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < end;) {
      for (const auto& e : probe.wait_for(1, 20ms)) {
        if ((e.message == WM_CHAR) != characters) continue;
        kept.push_back(e);
        if (kept.size() == count) end = std::chrono::steady_clock::now() + 150ms;
      }
    }
    return kept;
  }
  std::string arrived(std::size_t count) {
    std::string seen;
    for (const auto& e : events(count, false)) seen += (seen.empty() ? "" : " ") + describe(e);
    return seen;
  }
};

TEST_F(WindowsDesktop, ClicksLandOnThePixelTheyName) {
  std::printf("screen %dx%d\n", width, height);
  const int xs[] = {0, width - 1, 0, width - 1, 1, 777, width / 2 + 1};
  const int ys[] = {0, 0, height - 1, height - 1, 1, 333, height / 2 - 1};
  for (std::size_t i = 0; i < std::size(xs); ++i) {
    const int x = xs[i], y = ys[i];
    input->click(x, y);
    const std::string at = std::to_string(x) + "," + std::to_string(y);
    EXPECT_EQ(arrived(2), "down@" + at + " up@" + at);
  }
}

TEST_F(WindowsDesktop, ButtonsDragsWheelsAndKeysArriveAsSuch) {
  const struct {
    Act act;
    std::size_t count;
    const char* arrives;
  } cases[] = {
      {[](auto& in) { in.rightClick(10, 20), in.middleClick(30, 40); }, 4,
       "right@10,20 rup@10,20 middle@30,40 mup@30,40"},
      // CS_DBLCLKS: the second press of a pair is a double click, a third a plain press.
      {[](auto& in) { in.doubleClick(50, 60); }, 4, "down@50,60 up@50,60 dbl@50,60 up@50,60"},
      {[](auto& in) { in.click(70, 80, 3); }, 6,
       "down@70,80 up@70,80 dbl@70,80 up@70,80 down@70,80 up@70,80"},
      {[](auto& in) {
         in.moveTo(100, 100, 0), in.mouseDown(), in.moveTo(501, 303, 0.1), in.mouseUp();
       },
       2, "down@100,100 up@501,303"},
      {[](auto& in) { in.scroll(2), in.scroll(-1), in.hscroll(1), in.hscroll(-1); }, 5,
       "wheel+120 wheel+120 wheel-120 hwheel+120 hwheel-120"},
      {[](auto& in) {
         in.hotkey({"ctrl", "shift", "t"});
       },
       6, "+11 +10 +54 -54 -10 -11"},
      {[](auto& in) { in.press("enter"), in.press("f5"); }, 4, "+0d -0d +74 -74"},
      {[](auto& in) { in.keyDown("shift"), in.press("left"), in.keyUp("shift"); }, 4,
       "+10 +25 -25 -10"},
  };
  for (const auto& c : cases) {
    c.act(*input);
    EXPECT_EQ(arrived(c.count), c.arrives);
  }
  input->moveTo(1234, 567, 0);
  EXPECT_EQ(input->position(), std::make_pair(1234, 567));
}

TEST_F(WindowsDesktop, WrittenTextArrivesWholeAsCharacters) {
  const std::wstring text = L"Gr\u00fc\u00dfe \u2713 \u65e5\u672c \U0001F600!\r\t";
  input->write("Grüße ✓ 日本 😀!\n\t", 0);
  std::wstring typed;
  for (const auto& e : events(text.size(), true)) typed.push_back(static_cast<wchar_t>(e.wparam));
  EXPECT_EQ(typed, text);
}

TEST_F(WindowsDesktop, TheCaptureIsWhatTheWindowPainted) {
  std::size_t wrong = 0;
  // The window's pixels reach the screen shortly after it painted them.
  for (int attempt = 0; attempt < 20 && (attempt == 0 || wrong > 0); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt * 10));
    const ScreenCapture shot = input->screenshot();
    ASSERT_EQ(shot.width, width);
    ASSERT_EQ(shot.height, height);
    wrong = 0;
    for (std::size_t i = 0; i < shot.rgb.size(); i += 3) {
      const int x = static_cast<int>(i / 3 % width), y = static_cast<int>(i / 3 / width);
      wrong += static_cast<std::uint32_t>(shot.rgb[i] << 16 | shot.rgb[i + 1] << 8 |
                                          shot.rgb[i + 2]) != testing::probe_colour(x, y);
    }
  }
  EXPECT_EQ(wrong, 0u) << "pixels differ";
  std::printf("captured by %s\n", input->capture_method().c_str());
}

std::wstring clipboard_text() {
  std::wstring text = L"(not opened)";
  if (!::OpenClipboard(nullptr)) return text;
  const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  text = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : L"(no text)";
  if (data) ::GlobalUnlock(data);
  ::CloseClipboard();
  return text;
}

TEST(WindowsClipboard, CopiesTextWholeAndWaitsBrieflyForAHolder) {
  for (const auto held : {0ms, 300ms, 1500ms}) {
    std::atomic<bool> open = false;
    std::thread holder([&] {
      const bool holds = held > 0ms && ::OpenClipboard(nullptr);
      open = true;
      if (holds) std::this_thread::sleep_for(held), ::CloseClipboard();
    });
    while (!open) std::this_thread::sleep_for(1ms);
    const std::string count = std::to_string(held.count());
    try {
      windows::WindowsClipboard().copy("Grüße ✓ 😀 " + count);
      EXPECT_EQ(clipboard_text(),
                L"Gr\u00fc\u00dfe \u2713 \U0001F600 " + std::wstring(count.begin(), count.end()));
      EXPECT_LT(held, 1s);
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(),
                   held > 1s ? "the clipboard is held by another program (tried for 1 s)" : "");
    }
    holder.join();
  }
}

TEST_F(WindowsDesktop, TheExecutorClicksTypesPressesAndCapturesThroughIt) {
  testing::TempHome home;
  DeskhandExecutor executor(std::nullopt, make_system_platform());
  const auto run = [&](const char* action, nlohmann::ordered_json params) {
    return executor.execute_action(action, params).value("text", std::string("(no text)"));
  };
  int x = -1, y = -1;
  const std::string clicked = run("left_click", {{"coordinate", {400, 300}}});
  ASSERT_EQ(std::sscanf(clicked.c_str(), "Clicked at (%d, %d)", &x, &y), 2) << clicked;
  const std::string at = std::to_string(x) + "," + std::to_string(y);
  EXPECT_EQ(arrived(2), "down@" + at + " up@" + at);
  EXPECT_EQ(run("type", {{"text", "héllo ✓"}}), "Typed: héllo ✓");
  EXPECT_EQ(clipboard_text(), L"h\u00e9llo \u2713");
  EXPECT_EQ(arrived(4), "+11 +56 -56 -11");  // ctrl+v
  EXPECT_EQ(run("key", {{"text", "Return"}}), "Pressed: enter");
  EXPECT_EQ(arrived(2), "+0d -0d");

  EXPECT_EQ(executor.execute_action("screenshot", nlohmann::ordered_json::object())["type"],
            "image");
  const image::RgbImage saved = image::read_png_file(home.latest_png());
  EXPECT_EQ(saved.width, executor.get_display_info()["api_width"]);
  EXPECT_EQ(saved.height, executor.get_display_info()["api_height"]);
}

}  // namespace
}  // namespace orvane::pc
