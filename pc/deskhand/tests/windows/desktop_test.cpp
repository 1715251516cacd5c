// The Windows input, capture and clipboard on the real desktop, seen by a probe window of ours
// that covers the primary screen.
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

using testing::ProbeEvent;
using testing::ProbeWindow;
using namespace std::chrono_literals;

bool is_key(const ProbeEvent& e) {
  return e.message == WM_KEYDOWN || e.message == WM_KEYUP || e.message == WM_SYSKEYDOWN ||
         e.message == WM_SYSKEYUP;
}

// Mouse messages as "down@x,y" and the like; keys as "+11" (down) and "-11" (up).
std::string describe(const std::vector<ProbeEvent>& events) {
  std::string text;
  for (const auto& e : events) {
    char item[48];
    const char* name = e.message == WM_LBUTTONDOWN     ? "down"
                       : e.message == WM_LBUTTONUP     ? "up"
                       : e.message == WM_LBUTTONDBLCLK ? "dbl"
                       : e.message == WM_RBUTTONDOWN   ? "right"
                       : e.message == WM_MBUTTONDOWN   ? "middle"
                       : e.message == WM_MOUSEWHEEL    ? "wheel"
                       : e.message == WM_MOUSEHWHEEL   ? "hwheel"
                                                       : nullptr;
    if (is_key(e)) {
      const bool down = e.message == WM_KEYDOWN || e.message == WM_SYSKEYDOWN;
      std::snprintf(item, sizeof item, "%c%02x", down ? '+' : '-', static_cast<int>(e.wparam));
    } else if (e.message == WM_MOUSEWHEEL || e.message == WM_MOUSEHWHEEL) {
      std::snprintf(item, sizeof item, "%s%+d", name, GET_WHEEL_DELTA_WPARAM(e.wparam));
    } else if (name != nullptr) {
      std::snprintf(item, sizeof item, "%s@%ld,%ld", name, e.point.x, e.point.y);
    } else {
      continue;
    }
    text += (text.empty() ? "" : " ") + std::string(item);
  }
  return text;
}

class WindowsDesktop : public ::testing::Test {
 protected:
  std::unique_ptr<windows::WindowsInput> input = windows::WindowsInput::open();
  ProbeWindow probe;
  int width = probe.area().right;
  int height = probe.area().bottom;

  // What arrives: `count` events that `keep` keeps, and any more within 150 ms.
  std::vector<ProbeEvent> arrived(std::size_t count,
                                  const std::function<bool(const ProbeEvent&)>& keep) {
    std::vector<ProbeEvent> kept;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    auto settle = deadline;
    while (std::chrono::steady_clock::now() < std::min(deadline, settle)) {
      for (const auto& e : probe.wait_for(1, 50ms)) {
        if (keep(e)) kept.push_back(e);
      }
      if (kept.size() >= count && settle == deadline) {
        settle = std::chrono::steady_clock::now() + 150ms;
      }
    }
    return kept;
  }
  std::string mouse_arrived(std::size_t count) {
    return describe(arrived(count, [](const ProbeEvent& e) { return !is_key(e); }));
  }
  std::string keys_arrived(std::size_t count) { return describe(arrived(count, is_key)); }
};

TEST_F(WindowsDesktop, ClicksLandOnThePixelTheyName) {
  const struct {
    int x, y;
  } points[] = {{0, 0},
                {width - 1, 0},
                {0, height - 1},
                {width - 1, height - 1},
                {1, 1},
                {777, 333},
                {width / 2 + 1, height / 2 - 1},
                {width - 2, height - 3}};
  for (const auto& p : points) {
    input->click(p.x, p.y);
    const std::string at = std::to_string(p.x) + "," + std::to_string(p.y);
    EXPECT_EQ(mouse_arrived(2), "down@" + at + " up@" + at);
  }
}

TEST_F(WindowsDesktop, ButtonsDragsAndWheelsArriveAsSuch) {
  const struct {
    std::function<void(InputAutomation&)> act;
    std::size_t count;
    const char* arrives;
  } cases[] = {
      {[](auto& in) { in.rightClick(10, 20); }, 1, "right@10,20"},
      {[](auto& in) { in.middleClick(30, 40); }, 1, "middle@30,40"},
      // CS_DBLCLKS: the second press of a pair is a double click, a third a plain press.
      {[](auto& in) { in.doubleClick(50, 60); }, 4, "down@50,60 up@50,60 dbl@50,60 up@50,60"},
      {[](auto& in) { in.click(70, 80, 3); }, 6,
       "down@70,80 up@70,80 dbl@70,80 up@70,80 down@70,80 up@70,80"},
      {[](auto& in) {
         in.moveTo(100, 100, 0);
         in.mouseDown();
         in.moveTo(501, 303, 0.1);
         in.mouseUp();
       },
       2, "down@100,100 up@501,303"},
      {[](auto& in) { in.scroll(2); }, 2, "wheel+120 wheel+120"},
      {[](auto& in) { in.scroll(-1); }, 1, "wheel-120"},
      {[](auto& in) { in.hscroll(1); }, 1, "hwheel+120"},
      {[](auto& in) { in.hscroll(-2); }, 2, "hwheel-120 hwheel-120"},
  };
  for (const auto& c : cases) {
    c.act(*input);
    EXPECT_EQ(mouse_arrived(c.count), c.arrives);
  }
  input->moveTo(1234, 567, 0);
  EXPECT_EQ(input->position(), std::make_pair(1234, 567));
}

TEST_F(WindowsDesktop, KeysArriveInOrderWithTheirModifiers) {
  const struct {
    std::function<void(InputAutomation&)> act;
    std::size_t count;
    const char* arrives;
  } cases[] = {
      {[](auto& in) {
         in.hotkey({"ctrl", "shift", "t"});
       },
       6, "+11 +10 +54 -54 -10 -11"},
      {[](auto& in) { in.press("enter"); }, 2, "+0d -0d"},
      {[](auto& in) { in.press("f5"); }, 2, "+74 -74"},
      {[](auto& in) {
         in.keyDown("shift");
         in.press("left");
         in.keyUp("shift");
       },
       4, "+10 +25 -25 -10"},
  };
  for (const auto& c : cases) {
    c.act(*input);
    EXPECT_EQ(keys_arrived(c.count), c.arrives);
  }
}

TEST_F(WindowsDesktop, WrittenTextArrivesWholeAsCharacters) {
  const std::wstring expected = L"Gr\u00fc\u00dfe \u2713 \u65e5\u672c \U0001F600!\r\t";
  input->write("Grüße ✓ 日本 😀!\n\t", 0);
  std::wstring typed;
  for (const auto& e : arrived(expected.size(), [](auto& e) { return e.message == WM_CHAR; })) {
    typed.push_back(static_cast<wchar_t>(e.wparam));
  }
  EXPECT_EQ(typed, expected);
}

TEST_F(WindowsDesktop, TheCaptureIsWhatTheWindowPainted) {
  auto* windows_input = input.get();
  ScreenCapture capture;
  std::size_t wrong = 0;
  // The window's pixels reach the screen shortly after it painted them.
  for (int attempt = 0; attempt < 20; ++attempt, std::this_thread::sleep_for(100ms)) {
    capture = windows_input->screenshot();
    ASSERT_EQ(capture.width, width);
    ASSERT_EQ(capture.height, height);
    wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = &capture.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        const std::uint32_t rgb = (std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
        wrong += rgb != testing::probe_colour(x, y);
      }
    }
    if (wrong == 0) break;
  }
  EXPECT_EQ(wrong, 0u) << "pixels differing, captured by " << windows_input->capture_method();
  std::printf("capture method: %s\n", windows_input->capture_method().c_str());
}

std::wstring clipboard_text() {
  std::wstring text;
  if (!::OpenClipboard(nullptr)) return L"(not opened)";
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(::GlobalLock(data));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

TEST(WindowsClipboard, CopiesTextWholeAndWaitsBrieflyForAHolder) {
  const struct {
    std::chrono::milliseconds held;
    const char* error;
  } cases[] = {{0ms, nullptr},
               {300ms, nullptr},
               {1500ms, "the clipboard is held by another program (tried for 1 s)"}};
  for (const auto& c : cases) {
    std::thread holder;
    if (c.held > 0ms) {
      std::atomic<bool> open = false;
      holder = std::thread([&open, held = c.held] {
        ::OpenClipboard(nullptr);
        open = true;
        std::this_thread::sleep_for(held);
        ::CloseClipboard();
      });
      while (!open) std::this_thread::sleep_for(1ms);
    }
    try {
      windows::WindowsClipboard().copy("Grüße ✓ 😀 " + std::to_string(c.held.count()));
      EXPECT_EQ(c.error, nullptr);
      EXPECT_EQ(clipboard_text(),
                L"Gr\u00fc\u00dfe \u2713 \U0001F600 " + std::to_wstring(c.held.count()));
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.error ? c.error : "(no error)");
    }
    if (holder.joinable()) holder.join();
  }
}

TEST_F(WindowsDesktop, TheExecutorClicksTypesPressesAndCapturesThroughIt) {
  testing::TempHome home;
  DeskhandExecutor executor(std::nullopt, make_system_platform());
  using Json = nlohmann::ordered_json;
  const auto text = [&](const char* action, Json params) {
    return executor.execute_action(action, params).value("text", std::string("(no text)"));
  };

  int x = -1, y = -1;
  const std::string clicked = text("left_click", {{"coordinate", {400, 300}}});
  ASSERT_EQ(std::sscanf(clicked.c_str(), "Clicked at (%d, %d)", &x, &y), 2) << clicked;
  EXPECT_EQ(mouse_arrived(2), "down@" + std::to_string(x) + "," + std::to_string(y) + " up@" +
                                  std::to_string(x) + "," + std::to_string(y));

  EXPECT_EQ(text("type", {{"text", "héllo ✓"}}), "Typed: héllo ✓");
  EXPECT_EQ(clipboard_text(), L"h\u00e9llo \u2713");
  EXPECT_EQ(keys_arrived(4), "+11 +56 -56 -11");
  EXPECT_EQ(text("key", {{"text", "Return"}}), "Pressed: enter");
  EXPECT_EQ(keys_arrived(2), "+0d -0d");

  const auto shot = executor.execute_action("screenshot", Json::object());
  EXPECT_EQ(shot["type"], "image");
  const image::RgbImage saved = image::read_png_file(home.latest_png());
  EXPECT_EQ(saved.width, executor.get_display_info()["api_width"]);
  EXPECT_EQ(saved.height, executor.get_display_info()["api_height"]);
}

}  // namespace
}  // namespace orvane::pc
