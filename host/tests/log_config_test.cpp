#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>

#include "orvane/host/config.hpp"
#include "orvane/host/log.hpp"

using namespace orvane::host;

TEST(NamedLoggers, CaptureSeesExactTextLevelAndLogger) {
  LogCapture capture;
  auto logger = get_logger("orvane.scheduler");
  EXPECT_EQ(logger, get_logger("orvane.scheduler"));  // one logger per name
  logger->debug("Scheduler loop cancelled");
  logger->warn("careful: {}", 3);
  get_logger("orvane.summarizer")->info("other");
  EXPECT_TRUE(capture.contains(spdlog::level::debug, "Scheduler loop cancelled"));
  EXPECT_FALSE(capture.contains(spdlog::level::info, "Scheduler loop cancelled"));
  const auto mine = capture.records("orvane.scheduler");
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[1].message, "careful: 3");
  EXPECT_EQ(mine[1].level, spdlog::level::warn);
}

TEST(NamedLoggers, ErrorWithTraceCarriesExceptionTypeAndMessage) {
  LogCapture capture;
  auto logger = get_logger("orvane.pc.deskhand");
  log_exception(*logger, "Job abc failed: boom", std::runtime_error("boom"));
  log_exception(*logger, "second", std::make_exception_ptr(std::invalid_argument("bad")));
  const auto records = capture.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, spdlog::level::err);
  EXPECT_EQ(records[0].message, "Job abc failed: boom");
  EXPECT_EQ(records[0].trace, "std::runtime_error: boom");
  EXPECT_EQ(records[1].trace, "std::invalid_argument: bad");
}

TEST(Config, DataDirectoryIsDotOrvaneInHome) {
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  ::setenv("HOME", "/tmp/some-home", 1);
  EXPECT_EQ(orvane_dir(), std::filesystem::path("/tmp/some-home/.orvane"));
  ::unsetenv("HOME");
  EXPECT_FALSE(home_dir().empty());  // from the password database
  ::setenv("HOME", saved.c_str(), 1);
}
