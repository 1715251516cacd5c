#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "orvane/common/file_io.hpp"

using namespace orvane::common;
namespace fs = std::filesystem;

namespace {
struct TempDir {
  fs::path path =
      fs::temp_directory_path() / ("orvane-fileio-" + std::to_string(std::random_device{}()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// Opens `path` as a virus scanner does (reading, not letting it be deleted or replaced) and
// holds it for `hold`; the future is ready once it is open.
std::future<void> hold_open(const fs::path& path, std::chrono::milliseconds hold,
                            std::thread& holder) {
  auto opened = std::make_shared<std::promise<void>>();
  auto ready = opened->get_future();
  holder = std::thread([path, hold, opened] {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    opened->set_value();
    std::this_thread::sleep_for(hold);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  });
  return ready;
}

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}
}  // namespace

TEST(AtomicWriteOnWindows, AHolderOfTheTargetIsWaitedForBrieflyThenTheWriteFailsWithTheOldBytes) {
  struct Case {
    std::chrono::milliseconds hold;
    bool written;
  };
  for (const Case c :
       {Case{std::chrono::milliseconds(300), true}, Case{std::chrono::milliseconds(4000), false}}) {
    SCOPED_TRACE(c.hold.count());
    TempDir dir;
    const auto target = dir.path / "state.json";
    write_file_atomic(target, "old");
    std::thread holder;
    hold_open(target, c.hold, holder).wait();
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    try {
      write_file_atomic(target, "new");
    } catch (const std::system_error& e) {
      error = e.what();
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    holder.join();
    if (c.written) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(read_file(target), "new");
      EXPECT_GE(waited, c.hold / 2);  // it was held, and the write waited for it
    } else {
      EXPECT_NE(error.find(target.filename().string()), std::string::npos) << error;
      EXPECT_EQ(read_file(target), "old");
    }
    EXPECT_EQ(entries(dir.path), 1u);
  }
}

TEST(AtomicWriteOnWindows, NamesBeyondAsciiAreWrittenAndNamedInErrorsAsUtf8) {
  TempDir dir;
  const std::u8string name = u8"Zo\u00eb/\u5c71\u7530/state.json";
  const auto target = dir.path / fs::path(name);
  write_file_atomic(target, "first");
  EXPECT_EQ(read_file(target), "first");
  EXPECT_TRUE(fs::is_regular_file(dir.path / L"Zo\u00eb" / L"\u5c71\u7530" / L"state.json"));

  // A read-only file is refused as on Linux.
  ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
  try {
    write_file_atomic(target, "second");
    FAIL() << "a read-only file was replaced";
  } catch (const std::system_error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("\xe5\xb1\xb1\xe7\x94\xb0"), std::string::npos) << what;
    EXPECT_EQ(e.code(), std::errc::permission_denied);
  }
  ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_file(target), "first");
  try {
    read_file(dir.path / "missing");
    FAIL() << "a missing file was read";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
  }
}

// A writer killed mid-save leaves its temporary file behind; the next save removes it, but never
// the file of a writer that still has it open.
TEST(AtomicWriteOnWindows, RemovesTheTemporaryFilesOfDeadWritersOnly) {
  TempDir dir;
  const auto target = dir.path / "scheduler.json";
  const auto dead = dir.path / ".scheduler.json.tmp-deadbeef";
  const auto live = dir.path / ".scheduler.json.tmp-1ivewr1t";
  write_file_atomic(dead, "left by a killed writer");
  const HANDLE held = ::CreateFileW(live.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  write_file_atomic(target, "saved");
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
  ::CloseHandle(held);
  EXPECT_EQ(read_file(target), "saved");
}
