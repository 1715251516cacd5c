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

// Each event as text: "+" down or "-" up, then the virtual key ("k26", with "e" when extended),
// the UTF-16 unit ("u263a") or the mouse flags and data ("m0800 -120").
std::string describe(const INPUT& event) {
  char text[40];
  if (event.type == INPUT_MOUSE) {
    std::snprintf(text, sizeof text, "m%04lx %ld", event.mi.dwFlags,
                  static_cast<long>(static_cast<LONG>(event.mi.mouseData)));
    return text;
  }
  const DWORD flags = event.ki.dwFlags;
  const char sign = (flags & KEYEVENTF_KEYUP) ? '-' : '+';
  if (flags & KEYEVENTF_UNICODE) {
    std::snprintf(text, sizeof text, "%cu%04x", sign, event.ki.wScan);
  } else {
    std::snprintf(text, sizeof text, "%ck%02x%s", sign, event.ki.wVk,
                  (flags & KEYEVENTF_EXTENDEDKEY) ? "e" : "");
  }
  return text;
}

struct Recorder {
  std::string events;
  unsigned inserted_at_most = 1000;
  WindowsInput input{[this](std::span<INPUT> batch) {
    for (const auto& event : batch) events += (events.empty() ? "" : " ") + describe(event);
    return std::min<unsigned>(inserted_at_most, static_cast<unsigned>(batch.size()));
  }};
};

TEST(WindowsInputEvents, KeysWheelsAndTextBecomeTheseEvents) {
  const struct {
    const char* what;
    std::function<void(WindowsInput&)> act;
    const char* events;
  } cases[] = {
      {"arrow", [](auto& in) { in.press("up"); }, "+k26e -k26e"},
      {"right ctrl", [](auto& in) { in.keyDown("ctrlright"); }, "+ka3e"},
      {"numpad divide", [](auto& in) { in.keyUp("divide"); }, "-k6fe"},
      {"enter is not extended", [](auto& in) { in.press("enter"); }, "+k0d -k0d"},
      {"hotkey: in order, back in reverse",
       [](auto& in) {
         in.hotkey({"ctrl", "shift", "nokey", "t"});
       },
       "+k11 +k10 +k54 -k54 -k10 -k11"},
      {"capital takes shift", [](auto& in) { in.press("A"); }, "+k10 +k41 -k41 -k10"},
      {"character off the layout", [](auto& in) { in.press("\xe2\x9c\x93"); }, "+u2713 -u2713"},
      {"unknown names",
       [](auto& in) {
         in.press("nokey");
         in.keyDown("f25");
       },
       ""},
      {"text: controls as keys, the rest as Unicode", [](auto& in) { in.write("a\n\t", 0); },
       "+u0061 -u0061 +k0d -k0d +k09 -k09"},
      {"surrogates: both down, then both up", [](auto& in) { in.write("\xf0\x9f\x98\x80", 0); },
       "+ud83d +ude00 -ud83d -ude00"},
      {"wheel up", [](auto& in) { in.scroll(2); }, "m0800 120 m0800 120"},
      {"wheel down", [](auto& in) { in.scroll(-1); }, "m0800 -120"},
      {"wheel right", [](auto& in) { in.hscroll(1); }, "m1000 120"},
      {"wheel left", [](auto& in) { in.hscroll(-1); }, "m1000 -120"},
  };
  for (const auto& c : cases) {
    Recorder recorder;
    c.act(recorder.input);
    EXPECT_EQ(recorder.events, c.events) << c.what;
  }
}

TEST(WindowsInputEvents, InputTheSystemDropsIsAnErrorNotASuccess) {
  const struct {
    unsigned inserted;
    std::function<void(WindowsInput&)> act;
    const char* counts;
  } cases[] = {
      {1, [](auto& in) { in.click(5, 5, 2); }, "only 1 of 5 events"},
      {0,
       [](auto& in) {
         in.hotkey({"ctrl", "v"});
       },
       "only 0 of 4 events"},
      {3, [](auto& in) { in.write("\xf0\x9f\x98\x80", 0); }, "only 3 of 4 events"},
  };
  for (const auto& c : cases) {
    Recorder recorder;
    recorder.inserted_at_most = c.inserted;
    try {
      c.act(recorder.input);
      ADD_FAILURE() << c.counts << ": no error";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "Windows blocked the input: " + std::string(c.counts) +
                              " were inserted (a window running as administrator or the secure "
                              "desktop has the input)");
    }
  }
}

}  // namespace
}  // namespace orvane::pc::windows
