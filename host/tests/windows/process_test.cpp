#include "orvane/host/process.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "orvane/common/path_text.hpp"

using namespace orvane::host;
namespace fs = std::filesystem;

namespace {

// test_child.exe, built next to the test program.
std::string child() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return orvane::common::utf8_of(fs::path(self).parent_path() / "test_child.exe");
}

}  // namespace

TEST(WindowsProcess, ArgumentsArriveAsGiven) {
  const std::vector<std::string> awkward = {
      "plain",      "two words", "",          "say \"hi\"", "trailing\\", "end space \\",    "\\\\",
      "a\\\\\"b\\", "\"",        "tab\there", "Zoë 山田",   "-x=\"1 2\"", "\\\\srv\\share\\"};
  std::vector<std::string> args = {child(), "args"};
  args.insert(args.end(), awkward.begin(), awkward.end());
  const auto r = run_process(args, {.capture_output = true});
  EXPECT_EQ(nlohmann::json::parse(r.output), nlohmann::json(awkward));
}

TEST(WindowsProcess, InputOutputAndExitStatus) {
  const std::string big(1 << 20, 'z');  // larger than the pipe buffers both ways
  EXPECT_EQ(run_process({child(), "cat"}, {.capture_output = true, .input = big}).output, big);
  EXPECT_EQ(run_process({child(), "exit", "3"}).exit_code, 3);
  try {
    run_process({child(), "exit", "4"}, {.check = true});
    FAIL();
  } catch (const ProcessExitError& e) {
    EXPECT_EQ(e.exit_code, 4);
    EXPECT_NE(std::string(e.what()).find("', 'exit', '4']' returned non-zero exit status 4."),
              std::string::npos)
        << e.what();
  }
}

TEST(WindowsProcess, FindsProgramsOnPath) {
  EXPECT_TRUE(program_exists("cmd"));  // cmd.exe in the system folder
  EXPECT_TRUE(program_exists(child()));
  EXPECT_FALSE(program_exists("orvane-no-such-program"));
  try {
    run_process({"orvane-no-such-program", "x"});
    FAIL();
  } catch (const ProcessStartError& e) {
    EXPECT_STREQ(e.what(), "[Errno 2] No such file or directory: 'orvane-no-such-program'");
  }
  EXPECT_EQ(run_process({"cmd", "/c", "exit 5"}).exit_code, 5);
}

TEST(WindowsProcess, TimeOutEndsTheWholeTree) {
  const fs::path dir =
      fs::temp_directory_path() / ("orvane-tree-" + std::to_string(::GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto start = std::chrono::steady_clock::now();
  try {
    run_process({child(), "tree", orvane::common::utf8_of(dir)}, {.timeout_seconds = 1.5});
    FAIL() << "expected a time-out";
  } catch (const ProcessTimeout& e) {
    EXPECT_NE(std::string(e.what()).find("' timed out after 1.5 seconds"), std::string::npos);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  std::this_thread::sleep_for(std::chrono::seconds(4));
  EXPECT_TRUE(fs::exists(dir / "started"));  // the grandchild ran...
  EXPECT_FALSE(fs::exists(dir / "late"));    // ...and ended with its parent
  fs::remove_all(dir);
}
