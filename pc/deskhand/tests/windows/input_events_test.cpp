// What the Windows input hands to SendInput, caught by an injected sender: no desktop needed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "windows/windows_input.hpp"

namespace orvane::pc::windows {
namespace {

TEST(WindowsAbsoluteCoordinates, EveryPixelMapsBackToItself) {
  for (const int size : {1, 7, 768, 1080, 1366, 1440, 1920, 2160, 2560, 3840, 7680}) {
    for (int pixel = 0; pixel < size; ++pixel) {
      const LONG value = absolute_coordinate(pixel, size);
      ASSERT_LE(value, 65535) << size;
      ASSERT_EQ(value * size / 65536, pixel) << "size " << size << " value " << value;
    }
  }
  EXPECT_EQ(absolute_coordinate(-40, 1920), 0);
  EXPECT_EQ(absolute_coordinate(5000, 1920), absolute_coordinate(1919, 1920));
}

// "+k26e": key 0x26 down, extended; "-u263a": UTF-16 unit up; "m0800 -120": mouse flags, data.
std::string describe(const INPUT& e) {
  char text[40];
  const char sign = (e.ki.dwFlags & KEYEVENTF_KEYUP) ? '-' : '+';
  if (e.type == INPUT_MOUSE) {
    std::snprintf(text, sizeof text, "m%04lx %d", e.mi.dwFlags, static_cast<int>(e.mi.mouseData));
  } else if (e.ki.dwFlags & KEYEVENTF_UNICODE) {
    std::snprintf(text, sizeof text, "%cu%04x", sign, e.ki.wScan);
  } else {
    std::snprintf(text, sizeof text, "%ck%02x%s", sign, e.ki.wVk,
                  (e.ki.dwFlags & KEYEVENTF_EXTENDEDKEY) ? "e" : "");
  }
  return text;
}

// Each case runs with a sender that inserts at most `inserted` events of a call.
TEST(WindowsInputEvents, KeysWheelsAndTextBecomeTheseEventsAndDroppedOnesAnError) {
  const struct {
    std::function<void(WindowsInput&)> act;
    const char* sent;
    unsigned inserted = 1000;
  } cases[] = {
      {[](auto& in) { in.press("up"); }, "+k26e -k26e"},
      {[](auto& in) { in.keyDown("ctrlright"), in.keyUp("divide"), in.press("enter"); },
       "+ka3e -k6fe +k0d -k0d"},
      {[](auto& in) {
         in.hotkey({"ctrl", "shift", "nokey", "t"});
       },
       "+k11 +k10 +k54 -k54 -k10 -k11"},
      {[](auto& in) { in.press("A"), in.press("\xe2\x9c\x93"), in.keyDown("f25"); },
       "+k10 +k41 -k41 -k10 +u2713 -u2713"},
      {[](auto& in) { in.write("a\n\t\xf0\x9f\x98\x80", 0); },
       "+u0061 -u0061 +k0d -k0d +k09 -k09 +ud83d +ude00 -ud83d -ude00"},
      {[](auto& in) { in.scroll(2), in.scroll(-1), in.hscroll(1), in.hscroll(-1); },
       "m0800 120 m0800 120 m0800 -120 m1000 120 m1000 -120"},
      {[](auto& in) { in.click(5, 5, 2); }, "only 1 of 5 events", 1},
      {[](auto& in) { in.write("\xf0\x9f\x98\x80", 0); }, "only 3 of 4 events", 3},
  };
  for (const auto& c : cases) {
    std::string sent;
    WindowsInput input([&](std::span<INPUT> batch) {
      for (const auto& e : batch) sent += (sent.empty() ? "" : " ") + describe(e);
      return std::min<unsigned>(c.inserted, static_cast<unsigned>(batch.size()));
    });
    try {
      c.act(input);
      EXPECT_EQ(sent, c.sent);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "Windows blocked the input: " + std::string(c.sent) +
                              " were inserted (a window running as administrator or the secure "
                              "desktop has the input)");
    }
  }
}

}  // namespace
}  // namespace orvane::pc::windows
