// Screen detection on each system, the scale to the API resolution, and the mapping of points.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvane/host/log.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

using ::testing::ElementsAre;
using testing::FakePlatform;

struct Geometry {
  int screen_width, screen_height, api_width, api_height;
};

Geometry geometry_for(int width, int height) {
  auto platform = std::make_shared<FakePlatform>();
  platform->linux_size = std::pair{width, height};
  DeskhandExecutor executor(std::nullopt, platform);
  const auto info = executor.get_display_info();
  return {info["screen_width"], info["screen_height"], info["api_width"], info["api_height"]};
}

TEST(ScaleFactor, IsTheTighterOfTheTwoApiLimitsAndNeverEnlarges) {
  EXPECT_DOUBLE_EQ(_get_scale_factor(1920, 1080), 0.7447087010252506);
  EXPECT_NEAR(_get_scale_factor(2560, 1440), 0.5585, 1e-4);
  EXPECT_NEAR(_get_scale_factor(3840, 2160), 0.3723, 1e-4);
  EXPECT_NEAR(_get_scale_factor(1600, 900), 0.8936, 1e-4);
  EXPECT_NEAR(_get_scale_factor(1440, 900), 0.941990, 1e-6);
  EXPECT_NEAR(_get_scale_factor(3000, 500), 0.5226666, 1e-6);  // the long edge wins
  for (auto [w, h] : {std::pair{1280, 800}, {1366, 768}, {1024, 768}, {1568, 700}}) {
    EXPECT_EQ(_get_scale_factor(w, h), 1.0) << w << "x" << h;
  }
}

TEST(ScaleFactor, RefusesAScreenWithoutPixels) {
  EXPECT_THROW(_get_scale_factor(0, 1080), std::domain_error);
  EXPECT_THROW(_get_scale_factor(1920, 0), std::domain_error);
  EXPECT_THROW(_get_scale_factor(-1920, 1080), std::domain_error);
}

TEST(ApiResolution, IsTheScreenTimesTheFactorTruncated) {
  const auto check = [](int w, int h, int aw, int ah) {
    const auto g = geometry_for(w, h);
    EXPECT_EQ(g.api_width, aw) << w << "x" << h;
    EXPECT_EQ(g.api_height, ah) << w << "x" << h;
  };
  check(1920, 1080, 1429, 804);
  check(2560, 1440, 1429, 804);
  check(3840, 2160, 1429, 804);
  check(1600, 900, 1429, 804);
  check(1440, 900, 1356, 847);
  check(1280, 800, 1280, 800);
  check(1366, 768, 1366, 768);
  check(3000, 500, 1567, 261);  // 3000 x 0.52266... falls just short of 1568
}

TEST(Detection, LogsTheScaleOnceAndRunsOnlyOnce) {
  host::LogCapture log;
  auto platform = std::make_shared<FakePlatform>();
  DeskhandExecutor executor(std::nullopt, platform);
  EXPECT_EQ(platform->size_queries, 0);  // construction asks nothing
  executor._ensure_initialized();
  executor._ensure_initialized();
  executor.get_tool_definition();
  EXPECT_EQ(platform->size_queries, 1);
  EXPECT_TRUE(log.contains(spdlog::level::info, "Screen: 1920x1080, API: 1429x804, Scale: 0.745"));
  EXPECT_EQ(log.records("orvane.pc.deskhand").size(), 1u);
}

TEST(Detection, LinuxFallsBackTo1920x1080WithoutADisplayOrOnError) {
  auto platform = std::make_shared<FakePlatform>();
  platform->linux_size = std::nullopt;
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info()["screen_width"], 1920);
  platform->linux_size_throws = true;
  platform->linux_size = std::pair{1280, 800};
  const auto info = DeskhandExecutor(std::nullopt, platform).get_display_info();
  EXPECT_EQ(info["screen_width"], 1920);
  EXPECT_EQ(info["screen_height"], 1080);
}

TEST(Detection, AnySystemNameButWindowsAndDarwinIsAskedLikeLinux) {
  auto platform = std::make_shared<FakePlatform>();
  platform->system_name = "FreeBSD";
  platform->linux_size = std::pair{1280, 800};
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info()["api_width"], 1280);
}

TEST(Detection, WindowsReadsTheSystemMetrics) {
  auto platform = std::make_shared<FakePlatform>();
  platform->system_name = "Windows";
  platform->windows_metrics = std::pair{2560, 1440};
  const auto info = DeskhandExecutor(std::nullopt, platform).get_display_info();
  EXPECT_EQ(info["screen_width"], 2560);
  EXPECT_EQ(info["screen_height"], 1440);

  platform->windows_metrics = std::nullopt;  // user32 unusable: silent fallback
  host::LogCapture log;
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info()["screen_width"], 1920);
  EXPECT_TRUE(log.records("orvane.pc.deskhand").size() == 1);
}

TEST(Detection, AZeroMetricWarnsAndEndsAt1920x1080) {
  host::LogCapture log;
  auto platform = std::make_shared<FakePlatform>();
  platform->system_name = "Windows";
  platform->windows_metrics = std::pair{0, 1080};
  const auto info = DeskhandExecutor(std::nullopt, platform).get_display_info();
  EXPECT_EQ(info["screen_width"], 1920);
  EXPECT_EQ(info["api_width"], 1429);
  const auto records = log.records("orvane.pc.deskhand");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, spdlog::level::warn);
  EXPECT_THAT(records[0].message, ::testing::StartsWith("Could not detect screen size: "));
  EXPECT_THAT(records[0].message, ::testing::EndsWith(". Using defaults."));
  EXPECT_EQ(records[1].message, "Screen: 1920x1080, API: 1429x804, Scale: 0.745");
}

DeskhandExecutor darwin_with(std::shared_ptr<FakePlatform> platform, std::string output) {
  platform->system_name = "Darwin";
  platform->on_run = [output](const auto&, const auto&) { return host::ProcessResult{0, output}; };
  return DeskhandExecutor(std::nullopt, platform);
}

TEST(Detection, DarwinReadsTheFirstResolutionLineOfSystemProfiler) {
  auto platform = std::make_shared<FakePlatform>();
  auto executor = darwin_with(platform,
                              "Graphics/Displays:\n"
                              "    Resolution: 2560 x 1600 Retina\n"
                              "    Resolution: 1920 x 1080\n");
  const auto info = executor.get_display_info();
  EXPECT_EQ(info["screen_width"], 2560);
  EXPECT_EQ(info["screen_height"], 1600);
  ASSERT_EQ(platform->commands.size(), 1u);
  EXPECT_THAT(platform->commands[0], ElementsAre("system_profiler", "SPDisplaysDataType"));
  EXPECT_EQ(platform->command_options[0].timeout_seconds, 5);
  EXPECT_TRUE(platform->command_options[0].capture_output);
  EXPECT_FALSE(platform->command_options[0].check);
}

TEST(Detection, DarwinSkipsResolutionLinesWithoutAnXBetweenTwoTokens) {
  auto platform = std::make_shared<FakePlatform>();
  auto executor = darwin_with(platform,
                              "Resolution: unknown\n"
                              "Resolution: 1920 x\n"
                              "Resolution: 1440 x 900\n");
  EXPECT_EQ(executor.get_display_info()["screen_width"], 1440);
}

TEST(Detection, DarwinFallsBackWhenNothingUsableIsFound) {
  for (const std::string output : {"", "no displays here\n", "Resolution: 1920 by 1080\n",
                                   "Resolution: wide x 1080\n", "Resolution x 1080\n"}) {
    auto platform = std::make_shared<FakePlatform>();
    const auto info = darwin_with(platform, output).get_display_info();
    EXPECT_EQ(info["screen_width"], 1920) << output;
    EXPECT_EQ(info["screen_height"], 1080) << output;
  }
  auto platform = std::make_shared<FakePlatform>();
  platform->system_name = "Darwin";
  platform->on_run = [](const auto&, const auto&) -> host::ProcessResult {
    throw host::ProcessTimeout("timed out");
  };
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info()["screen_width"], 1920);
}

TEST(Detection, AGarbledSizeWhoseApiSizeCannotBeHeldWarnsAndEndsAt1920x1080) {
  // -1 is not above 0, so the scan goes on and keeps it; the factor of 1568 / -1 enlarges the
  // height past any int.
  host::LogCapture log;
  auto platform = std::make_shared<FakePlatform>();
  const auto info =
      darwin_with(platform, "Resolution: -1 x -2000000000\n").get_display_info().dump();
  EXPECT_EQ(info, R"({"screen_width":1920,"screen_height":1080,"api_width":1429,"api_height":804,)"
                  R"("scale_factor":0.745,"last_screenshot":null})");
  const auto records = log.records("orvane.pc.deskhand");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, spdlog::level::warn);
  EXPECT_THAT(records[0].message, ::testing::StartsWith("Could not detect screen size: "));
}

class PointMapping : public ::testing::Test {
 protected:
  std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
  DeskhandExecutor executor{std::nullopt, platform};
  void SetUp() override { executor._ensure_initialized(); }
};

TEST_F(PointMapping, ScalesApiPointsUpAndClampsThemToTheScreen) {
  using P = std::pair<int, int>;
  EXPECT_EQ(executor._to_screen_coords(0, 0), P(0, 0));
  EXPECT_EQ(executor._to_screen_coords(714, 402), P(958, 539));
  EXPECT_EQ(executor._to_screen_coords(1429, 804), P(1918, 1079));
  EXPECT_EQ(executor._to_screen_coords(2000, 2000), P(1919, 1079));
  EXPECT_EQ(executor._to_screen_coords(-5, 10), P(0, 13));
  EXPECT_EQ(executor._to_screen_coords(714.9, 402.99), P(958, 539));  // truncated first
  EXPECT_EQ(executor._to_screen_coords(1e300, -1e300), P(1919, 0));
}

TEST(PointMappingUnscaled, PassesPointsThroughUnchangedAtFactorOne) {
  auto platform = std::make_shared<FakePlatform>();
  platform->linux_size = std::pair{1280, 800};
  DeskhandExecutor executor(std::nullopt, platform);
  executor._ensure_initialized();
  using P = std::pair<int, int>;
  EXPECT_EQ(executor._to_screen_coords(-5, 5000), P(-5, 5000));
  EXPECT_EQ(executor._to_screen_coords(10.7, -3.7), P(10, -3));
  EXPECT_THROW(executor._to_screen_coords(1e300, 0), std::out_of_range);
}

TEST(ToolDefinition, AnnouncesTheApiResolutionAndTheDisplayNumberWhenGiven) {
  auto platform = std::make_shared<FakePlatform>();
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_tool_definition().dump(),
            R"({"type":"computer_20250124","name":"computer","display_width_px":1429,)"
            R"("display_height_px":804})");
  EXPECT_EQ(DeskhandExecutor(1, platform).get_tool_definition().dump(),
            R"({"type":"computer_20250124","name":"computer","display_width_px":1429,)"
            R"("display_height_px":804,"display_number":1})");
  EXPECT_EQ(DeskhandExecutor(0, platform).get_tool_definition()["display_number"], 0);
}

TEST(DisplayInfo, ReportsGeometryWithTheFactorToThreeDecimals) {
  auto platform = std::make_shared<FakePlatform>();
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info().dump(),
            R"({"screen_width":1920,"screen_height":1080,"api_width":1429,"api_height":804,)"
            R"("scale_factor":0.745,"last_screenshot":null})");
  platform->linux_size = std::pair{1280, 800};
  const auto info = DeskhandExecutor(std::nullopt, platform).get_display_info();
  EXPECT_EQ(info["scale_factor"].dump(), "1.0");
  EXPECT_EQ(info["api_width"], 1280);
  platform->linux_size = std::pair{1440, 900};
  EXPECT_EQ(DeskhandExecutor(std::nullopt, platform).get_display_info()["scale_factor"].dump(),
            "0.942");
}

}  // namespace
}  // namespace orvane::pc
