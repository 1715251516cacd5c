// The Windows input, capture and clipboard: the events handed to SendInput, and what reaches a
// probe window of ours over the primary screen.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
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

TEST(WindowsAbsoluteCoordinates, EveryPixelMapsBackToItself) {
  for (const int size : {1, 7, 768, 1080, 1366, 1440, 1920, 2160, 2560, 3840, 7680}) {
    for (int pixel = 0; pixel < size; ++pixel) {
      const LONG value = windows::absolute_coordinate(pixel, size);
      ASSERT_LE(value, 65535) << size;
      ASSERT_EQ(value * size / 65536, pixel) << "size " << size << " value " << value;
    }
  }
}

// The sender takes at most `inserted` events a call; "+k26e": key 0x26 down, extended; "-u263a" up.
TEST(WindowsInputEvents, KeysAndTextBecomeTheseEventsAndDroppedOnesAnError) {
  // clang-format off
  const struct { Act act; const char* sent; unsigned inserted = 1000; } cases[] = {
      {[](auto& in) { in.press("up"), in.keyDown("ctrlright"), in.keyUp("divide"), in.press("enter"); },
       "+k26e -k26e +ka3e -k6fe +k0d -k0d"},
      {[](auto& in) { in.press("A"), in.press("\xe2\x9c\x93"), in.hotkey({"f25", "nokey"}); },
       "+k10 +k41 -k41 -k10 +u2713 -u2713"},
      {[](auto& in) { in.write("a\n\t\xf0\x9f\x98\x80", 0); },
       "+u61 -u61 +k0d -k0d +k09 -k09 +ud83d +ude00 -ud83d -ude00"},
      {[](auto& in) { in.hotkey({"ctrl", "v"}); }, "only 1 of 4 events", 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    std::string sent;
    windows::WindowsInput input([&](std::span<INPUT> batch) {
      for (const INPUT& e : batch) {
        const KEYBDINPUT& ki = e.ki;
        const bool unicode = ki.dwFlags & KEYEVENTF_UNICODE;
        char text[16];
        std::snprintf(text, sizeof text, " %c%c%02x%s", (ki.dwFlags & KEYEVENTF_KEYUP) ? '-' : '+',
                      unicode ? 'u' : 'k', unicode ? ki.wScan : ki.wVk,
                      (ki.dwFlags & KEYEVENTF_EXTENDEDKEY) ? "e" : "");
        sent += text + sent.empty();
      }
      return std::min<unsigned>(c.inserted, static_cast<unsigned>(batch.size()));
    });
    try {
      c.act(input);
      EXPECT_EQ(sent, c.sent);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "Windows blocked the input: " + std::string(c.sent) +
                              " were inserted (the secure desktop or a locked session has the "
                              "input)");
    }
  }
}

// Mouse messages as "down@x,y", "dbl@x,y", "wheel+120"; keys as "+11" (down) and "-11" (up).
std::string describe(const testing::ProbeEvent& e) {
  const char* names[] = {"down", "up", "dbl", "right", "rup", "rdbl", "middle", "mup", "mdbl"};
  char text[48];
  if (e.message <= WM_SYSKEYUP) {
    std::snprintf(text, sizeof text, "%c%02x", e.message % 2 ? '-' : '+', int(e.wparam));
  } else if (e.message == WM_MOUSEWHEEL || e.message == WM_MOUSEHWHEEL) {
    std::snprintf(text, sizeof text, "%swheel%+d", e.message == WM_MOUSEWHEEL ? "" : "h",
                  GET_WHEEL_DELTA_WPARAM(e.wparam));
  } else {
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
  const int xs[] = {0, width - 1, 0, width - 1, 1, 777, width / 2 + 1};
  const int ys[] = {0, 0, height - 1, height - 1, 1, 333, height / 2 - 1};
  for (std::size_t i = 0; i < std::size(xs); ++i) {
    input->click(xs[i], ys[i]);
    const std::string at = std::to_string(xs[i]) + "," + std::to_string(ys[i]);
    EXPECT_EQ(arrived(2), "down@" + at + " up@" + at);
  }
}

TEST_F(WindowsDesktop, ButtonsDragsWheelsAndKeysArriveAsSuch) {
  // clang-format off
  const struct { Act act; std::size_t count; const char* arrives; } cases[] = {
      {[](auto& in) { in.rightClick(10, 20), in.middleClick(30, 40); }, 4,
       "right@10,20 rup@10,20 middle@30,40 mup@30,40"},
      // CS_DBLCLKS: the second press of a pair is a double click, a third a plain press.
      {[](auto& in) { in.doubleClick(50, 60); }, 4, "down@50,60 up@50,60 dbl@50,60 up@50,60"},
      {[](auto& in) { in.click(70, 80, 3); }, 6,
       "down@70,80 up@70,80 dbl@70,80 up@70,80 down@70,80 up@70,80"},
      {[](auto& in) { in.moveTo(100, 100, 0), in.mouseDown(), in.moveTo(501, 303, 0.1), in.mouseUp(); },
       2, "down@100,100 up@501,303"},
      {[](auto& in) { in.scroll(2), in.scroll(-1), in.hscroll(1), in.hscroll(-1); }, 5,
       "wheel+120 wheel+120 wheel-120 hwheel+120 hwheel-120"},
      {[](auto& in) { in.hotkey({"ctrl", "shift", "t"}), in.keyDown("alt"), in.press("f5"), in.keyUp("alt"); },
       10, "+11 +10 +54 -54 -10 -11 +12 +74 -74 -12"},
  };
  // clang-format on
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
  std::size_t wrong = 1;  // the window's pixels reach the screen shortly after it paints them
  for (int attempt = 0; attempt < 20 && wrong > 0; std::this_thread::sleep_for(++attempt * 10ms)) {
    const ScreenCapture shot = input->screenshot();
    ASSERT_EQ(shot.width, width);
    ASSERT_EQ(shot.height, height);
    wrong = 0;
    for (std::size_t i = 0; i < shot.rgb.size(); i += 3) {
      const auto rgb = std::uint32_t{shot.rgb[i]} << 16 | shot.rgb[i + 1] << 8 | shot.rgb[i + 2];
      wrong += rgb != testing::probe_colour(int(i / 3 % width), int(i / 3 / width));
    }
  }
  EXPECT_EQ(wrong, 0u) << "pixels differ";
  std::printf("captured %dx%d by %s\n", width, height, input->capture_method().c_str());
}

std::wstring clipboard_text() {
  std::wstring text = L"(no text)";
  const HANDLE data = ::OpenClipboard(nullptr) ? ::GetClipboardData(CF_UNICODETEXT) : nullptr;
  if (data) text = static_cast<const wchar_t*>(::GlobalLock(data)), ::GlobalUnlock(data);
  ::CloseClipboard();
  return text;
}

TEST(WindowsClipboard, CopiesTextWholeAndWaitsBrieflyForAHolder) {
  for (const auto held : {300ms, 1500ms}) {
    std::promise<void> opened;
    std::thread holder([&] {
      ::OpenClipboard(nullptr), opened.set_value(), std::this_thread::sleep_for(held);
      ::CloseClipboard();
    });
    opened.get_future().wait();
    try {
      windows::WindowsClipboard().copy("Grüße ✓ 😀 " + std::to_string(held.count()));
      EXPECT_EQ(clipboard_text(),
                L"Gr\u00fc\u00dfe \u2713 \U0001F600 " + std::to_wstring(held.count()));
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
  using Json = nlohmann::ordered_json;
  const auto run = [&](const char* action, Json params) {
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
  EXPECT_EQ(executor.execute_action("screenshot", Json::object())["type"], "image");
  const image::RgbImage saved = image::read_png_file(home.latest_png());
  EXPECT_EQ(saved.width, executor.get_display_info()["api_width"]);
  EXPECT_EQ(saved.height, executor.get_display_info()["api_height"]);
}

}  // namespace
}  // namespace orvane::pc
