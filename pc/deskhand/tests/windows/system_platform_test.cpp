// The real Windows platform under the executor: the screen it reports is the one the display
// driver reports, and it has the input and the clipboard of the desktop.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

TEST(WindowsPlatform, TheExecutorsScreenIsTheOneTheDisplayDriverReports) {
  testing::TempHome home;
  DeskhandExecutor executor(std::nullopt, make_system_platform());
  const auto info = executor.get_display_info();

  ::SetProcessDPIAware();
  const HDC screen = ::GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  const int width = ::GetDeviceCaps(screen, HORZRES);
  const int height = ::GetDeviceCaps(screen, VERTRES);
  ::ReleaseDC(nullptr, screen);
  ASSERT_GT(width, 0);
  EXPECT_EQ(info["screen_width"], width);
  EXPECT_EQ(info["screen_height"], height);
}

TEST(WindowsPlatform, NamesItsSystemAndHasInputAndAClipboard) {
  const auto platform = make_system_platform();
  EXPECT_EQ(platform->system(), "Windows");
  EXPECT_NE(platform->clipboard(), nullptr);
  EXPECT_EQ(platform->get_screen_size_linux(), std::nullopt);
  // Opened once, on first use.
  EXPECT_EQ(&platform->input(), &platform->input());
}

TEST(WindowsPlatform, KnowsTheKeysTheOtherBackendsKnow) {
  const struct {
    const char* name;
    bool known;
  } keys[] = {
      {"enter", true}, {"pageup", true}, {"win", true},    {"ctrlright", true}, {"f1", true},
      {"f24", true},   {"num0", true},   {"a", true},      {"\xc3\xa9", true},  {"volumeup", true},
      {"f25", false},  {"f01", false},   {"num10", false}, {"nokey", false},    {"", false},
      {"ab", false},   {"\x7f", false},  {"\xff", false},
  };
  for (const auto& key : keys) EXPECT_EQ(can_press_key(key.name), key.known) << key.name;
}

}  // namespace
}  // namespace orvane::pc
