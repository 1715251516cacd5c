#include "orvane/host/process.hpp"

#include <gtest/gtest.h>

#include <chrono>

using namespace orvane::host;

TEST(ProcessRunner, CapturesOutputAndFeedsInput) {
  auto r = run_process({"sh", "-c", "printf 'x%sy' \"$1\"", "sh", "a b"}, {.capture_output = true});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "xa by");  // arguments pass through untouched, no shell splitting

  const std::string big(1 << 20, 'z');  // larger than a pipe buffer in both directions
  auto echoed = run_process({"cat"}, {.capture_output = true, .input = big});
  EXPECT_EQ(echoed.output, big);
}

TEST(ProcessRunner, TimeOutKillsTheChildPromptly) {
  const auto start = std::chrono::steady_clock::now();
  try {
    run_process({"sleep", "10"}, {.timeout_seconds = 0.3});
    FAIL() << "expected a time-out";
  } catch (const ProcessTimeout& e) {
    EXPECT_STREQ(e.what(), "Command '['sleep', '10']' timed out after 0.3 seconds");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  try {
    run_process({"sleep", "10"}, {.timeout_seconds = 1});
    FAIL();
  } catch (const ProcessTimeout& e) {
    EXPECT_STREQ(e.what(), "Command '['sleep', '10']' timed out after 1 seconds");
  }
}

TEST(ProcessRunner, NonZeroExitIsAnErrorOnlyWhenChecked) {
  EXPECT_EQ(run_process({"sh", "-c", "exit 3"}).exit_code, 3);
  try {
    run_process({"sh", "-c", "exit 3"}, {.check = true});
    FAIL();
  } catch (const ProcessExitError& e) {
    EXPECT_EQ(e.exit_code, 3);
    EXPECT_STREQ(e.what(), "Command '['sh', '-c', 'exit 3']' returned non-zero exit status 3.");
  }
}

TEST(ProcessRunner, MissingProgramIsAStartError) {
  try {
    run_process({"orvane-no-such-program", "x"});
    FAIL();
  } catch (const ProcessStartError& e) {
    EXPECT_STREQ(e.what(), "[Errno 2] No such file or directory: 'orvane-no-such-program'");
  }
  EXPECT_FALSE(program_exists("orvane-no-such-program"));
  EXPECT_TRUE(program_exists("sh"));
  EXPECT_THROW(run_process({}), ProcessStartError);
}
