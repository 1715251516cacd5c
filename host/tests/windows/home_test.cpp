#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "orvane/common/file_io.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/host/config.hpp"

using namespace orvane::host;
namespace fs = std::filesystem;

TEST(WindowsHome, NonAsciiProfileFolderHoldsTheDataDirectory) {
  const fs::path home = fs::temp_directory_path() / L"Zo\u00eb \u5c71\u7530";
  fs::create_directories(home);
  wchar_t saved[32768];
  const bool had = ::GetEnvironmentVariableW(L"USERPROFILE", saved, 32768) != 0;
  ::SetEnvironmentVariableW(L"USERPROFILE", home.c_str());

  EXPECT_EQ(orvane_dir(), home / ".orvane");
  const std::string text = orvane::common::utf8_of(orvane_dir());
  EXPECT_TRUE(text.ends_with("Zo\xc3\xab \xe5\xb1\xb1\xe7\x94\xb0\\.orvane")) << text;
  EXPECT_EQ(orvane::common::path_from_utf8(text), orvane_dir());
  orvane::common::write_file_atomic(orvane_dir() / "state.json", "{\"a\": 1}");
  EXPECT_TRUE(fs::is_regular_file(home / L".orvane" / L"state.json"));
  EXPECT_EQ(orvane::common::read_file(orvane_dir() / "state.json"), "{\"a\": 1}");

  ::SetEnvironmentVariableW(L"USERPROFILE", nullptr);
  EXPECT_FALSE(home_dir().empty());  // the profile folder the system knows
  ::SetEnvironmentVariableW(L"USERPROFILE", had ? saved : nullptr);
  fs::remove_all(home);
}
