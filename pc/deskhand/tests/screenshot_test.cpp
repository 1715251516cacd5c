// Screenshots through a fake platform: the image the model gets, the disk copy, and the fallback
// commands of each system with their failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "image/image.hpp"
#include "orvane/common/file_io.hpp"
#include "orvane/pc/deskhand.hpp"
#include "support/base64_decode.hpp"
#include "support/environment.hpp"
#include "support/fake_platform.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;
using ::testing::ElementsAre;
using testing::FakePlatform;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A grey frame with one red block, so that scaling and placement show.
ScreenCapture frame(int width, int height) {
  ScreenCapture capture{width, height,
                        std::vector<std::uint8_t>(std::size_t(width) * height * 3, 90)};
  for (int y = height / 4; y < height / 2; ++y) {
    for (int x = width / 4; x < width / 2; ++x) {
      auto* p = &capture.rgb[(std::size_t(y) * width + x) * 3];
      p[0] = 230, p[1] = 20, p[2] = 10;
    }
  }
  return capture;
}

image::RgbImage decoded(const Json& result) {
  EXPECT_EQ(result["type"], "image") << result.dump().substr(0, 300);
  EXPECT_EQ(result["media_type"], "image/png");
  return image::decode_png(testing::base64_decode(result["base64"].get<std::string>()));
}

class Screenshots : public ::testing::Test {
 protected:
  testing::TempHome home;
  std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
  DeskhandExecutor executor{std::nullopt, platform};

  // Makes the fake's commands write `capture` as PNG to their last argument.
  void commands_write(const ScreenCapture& capture) {
    platform->on_run = [capture](const std::vector<std::string>& args, const auto&) {
      image::RgbImage image{capture.width, capture.height, capture.rgb};
      common::write_file_atomic(args.back(), image::encode_png(image, image::PngEffort::Fast));
      return host::ProcessResult{};
    };
  }
};

TEST_F(Screenshots, PrimaryCaptureIsShrunkToTheApiSizeAndKeptOnDisk) {
  platform->capture = frame(1920, 1080);
  const auto result = executor.execute_action("screenshot", Json::object());
  ASSERT_EQ(result.size(), 3u);
  EXPECT_EQ(result.begin().key(), "type");
  const auto image = decoded(result);
  EXPECT_EQ(image.width, 1429);
  EXPECT_EQ(image.height, 804);
  // The red block (480..959 x 270..539 on screen) lands at 357..714 x 201..401.
  const auto at = [&](int x, int y) {
    return &image.pixels[(std::size_t(y) * image.width + x) * 3];
  };
  EXPECT_EQ(at(530, 300)[0], 230);
  EXPECT_EQ(at(530, 300)[1], 20);
  EXPECT_EQ(at(100, 100)[0], 90);
  EXPECT_EQ(at(800, 450)[0], 90);
  // The disk copy is the same PNG.
  EXPECT_EQ(common::read_file(home.latest_png()),
            testing::base64_decode(result["base64"].get<std::string>()));
  EXPECT_EQ(executor.get_display_info()["last_screenshot"], home.latest_png().string());
  EXPECT_TRUE(platform->commands.empty());
}

TEST_F(Screenshots, AtFactorOneTheCaptureKeepsItsOwnSize) {
  platform->linux_size = std::pair{1280, 800};
  platform->capture = frame(1300, 700);  // whatever the capture gives is used as it is
  const auto image = decoded(executor.execute_action("screenshot", Json::object()));
  EXPECT_EQ(image.width, 1300);
  EXPECT_EQ(image.height, 700);
  EXPECT_EQ(image.pixels, frame(1300, 700).rgb);
}

TEST_F(Screenshots, AFailedCaptureWritesNothingWhenTheImageIsUnusable) {
  platform->capture = ScreenCapture{10, 10, {}};  // wrong pixel count
  const auto result = executor.execute_action("screenshot", Json::object());
  EXPECT_THAT(result["error"].get<std::string>(), StartsWith("Action screenshot failed: "));
  EXPECT_FALSE(std::filesystem::exists(home.latest_png()));
  EXPECT_TRUE(executor.get_display_info()["last_screenshot"].is_null());
}

TEST_F(Screenshots, LinuxFallbackRunsScrotWithoutAHostCommand) {
  platform->capture = std::nullopt;
  commands_write(frame(1920, 1080));
  const auto result = executor.execute_action("screenshot", Json::object());
  const auto image = decoded(result);
  EXPECT_EQ(image.width, 1429);
  ASSERT_EQ(platform->commands.size(), 1u);
  EXPECT_THAT(platform->commands[0], ElementsAre("scrot", "-o", home.latest_png().string()));
  EXPECT_EQ(platform->command_options[0].timeout_seconds, 5);
  EXPECT_TRUE(platform->command_options[0].check);
  // The file now holds the shrunk image.
  const auto on_disk = image::read_png_file(home.latest_png());
  EXPECT_EQ(on_disk.width, 1429);
  EXPECT_EQ(on_disk.pixels, image.pixels);
  EXPECT_EQ(executor.get_display_info()["last_screenshot"], home.latest_png().string());
}

TEST_F(Screenshots, LinuxFallbackPrefersTheHostCommandWithThePathAppended) {
  platform->input_available = false;
  platform->screenshot_command = {"grim", "-t", "png"};
  commands_write(frame(1920, 1080));
  decoded(executor.execute_action("screenshot", Json::object()));
  EXPECT_THAT(platform->commands.back(),
              ElementsAre("grim", "-t", "png", home.latest_png().string()));
}

TEST_F(Screenshots, DarwinFallbackUsesScreencapture) {
  platform->system_name = "Darwin";
  platform->capture = std::nullopt;
  platform->on_run = [&](const std::vector<std::string>& args, const auto& options) {
    if (args[0] == "system_profiler") return host::ProcessResult{0, "Resolution: 1280 x 800\n"};
    EXPECT_EQ(options.timeout_seconds, 5);
    const auto capture = frame(1280, 800);
    common::write_file_atomic(args.back(),
                              image::encode_png({1280, 800, capture.rgb}, image::PngEffort::Fast));
    return host::ProcessResult{};
  };
  // Whole seconds: MinGW's libstdc++ reads file times through stat.
  const auto before =
      std::chrono::floor<std::chrono::seconds>(std::filesystem::file_time_type::clock::now());
  const auto image = decoded(executor.execute_action("screenshot", Json::object()));
  EXPECT_EQ(image.width, 1280);  // factor 1.0: the file stays as the command wrote it
  EXPECT_THAT(platform->commands.back(),
              ElementsAre("screencapture", "-x", home.latest_png().string()));
  EXPECT_GE(std::filesystem::last_write_time(home.latest_png()), before);
}

TEST_F(Screenshots, WindowsFallbackScriptQuotesThePathForPowerShell) {
  testing::TempHome quoted_home;  // a home with a quote in its name
  const auto home_with_quote = quoted_home.path() / "O'Brien";
  std::filesystem::create_directories(home_with_quote);
  testing::set_environment(testing::HOME_VARIABLE, home_with_quote.string());
  platform->system_name = "Windows";
  platform->windows_metrics = std::pair{1920, 1080};
  platform->capture = std::nullopt;
  const std::string path = (home_with_quote / ".orvane" / "screenshots" / "latest.png").string();
  platform->on_run = [&](const std::vector<std::string>&, const auto&) {
    const auto capture = frame(1920, 1080);
    common::write_file_atomic(path,
                              image::encode_png({1920, 1080, capture.rgb}, image::PngEffort::Fast));
    return host::ProcessResult{};
  };
  EXPECT_EQ(decoded(executor.execute_action("screenshot", Json::object())).width, 1429);
  ASSERT_EQ(platform->commands.size(), 1u);
  const auto& command = platform->commands[0];
  ASSERT_EQ(command.size(), 3u);
  EXPECT_EQ(command[0], "powershell");
  EXPECT_EQ(command[1], "-Command");
  std::string doubled = path;
  doubled.replace(doubled.find('\''), 1, "''");
  EXPECT_EQ(command[2],
            "Add-Type -AssemblyName System.Windows.Forms;[System.Windows.Forms.Screen]::"
            "PrimaryScreen | ForEach-Object {$bmp = New-Object System.Drawing.Bitmap($_.Bounds."
            "Width, $_.Bounds.Height);$g = [System.Drawing.Graphics]::FromImage($bmp);$g."
            "CopyFromScreen($_.Bounds.Location, [System.Drawing.Point]::Empty, $_.Bounds.Size);"
            "$bmp.Save('" +
                doubled + "')}");
  EXPECT_EQ(platform->command_options[0].timeout_seconds, 10);
}

TEST_F(Screenshots, FallbackFailuresAreReportedWithTheirCause) {
  platform->capture = std::nullopt;
  platform->on_run = [](const std::vector<std::string>&, const auto&) -> host::ProcessResult {
    throw host::ProcessExitError("Command '['scrot']' returned non-zero exit status 2.");
  };
  EXPECT_EQ(executor.execute_action("screenshot", Json::object()),
            (Json{{"type", "error"},
                  {"error",
                   "Screenshot fallback failed: Command '['scrot']' returned non-zero exit status "
                   "2."}}));
  // A command that succeeds without writing a file.
  platform->on_run = nullptr;
  const auto result = executor.execute_action("screenshot", Json::object());
  EXPECT_THAT(result["error"].get<std::string>(), StartsWith("Screenshot fallback failed: "));
  // Not a PNG.
  platform->on_run = [](const std::vector<std::string>& args, const auto&) {
    common::write_file_atomic(args.back(), "not a picture");
    return host::ProcessResult{};
  };
  EXPECT_THAT(executor.execute_action("screenshot", Json::object())["error"].get<std::string>(),
              StartsWith("Screenshot fallback failed: "));
  EXPECT_TRUE(executor.get_display_info()["last_screenshot"].is_null());
}

TEST_F(Screenshots, AnUnknownSystemHasNoFallback) {
  platform->system_name = "Haiku";
  platform->capture = std::nullopt;
  EXPECT_EQ(executor.execute_action("screenshot", Json::object()),
            (Json{{"type", "error"}, {"error", "No screenshot method for Haiku"}}));
  EXPECT_TRUE(platform->commands.empty());
}

}  // namespace
}  // namespace orvane::pc
