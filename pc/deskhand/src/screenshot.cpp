// The screenshot action: capture, shrink to the API resolution, PNG for the model and a disk copy.
#include <filesystem>
#include <string>

#include "image/image.hpp"
#include "orvane/common/file_io.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/host/config.hpp"
#include "orvane/pc/deskhand.hpp"

namespace orvane::pc {
namespace {

using Json = nlohmann::ordered_json;

Json image_result(const std::string& png) {
  return Json{
      {"type", "image"}, {"base64", image::base64_encode(png)}, {"media_type", "image/png"}};
}
Json error_result(std::string message) {
  return Json{{"type", "error"}, {"error", std::move(message)}};
}

std::filesystem::path screenshot_dir() {
  return host::home_dir() / ".orvane" / "screenshots";
}

// PowerShell single-quoted strings take a quote as two quotes.
std::string powershell_quoted(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

Json DeskhandExecutor::_action_screenshot() {
  image::RgbImage frame;
  try {
    ScreenCapture capture = _platform->input().screenshot();
    frame.width = capture.width;
    frame.height = capture.height;
    frame.pixels = std::move(capture.rgb);
  } catch (...) {
    return _fallback_screenshot();
  }
  if (_scale_factor < 1.0) frame = image::resize_bicubic(frame, _api_width, _api_height);
  // The model's copy and the disk copy are the same image, so one encoding serves both.
  const std::string png = image::encode_png(frame, image::PngEffort::Smallest);
  Json result = image_result(png);
  const auto dir = screenshot_dir();
  std::filesystem::create_directories(dir);
  const auto path = dir / "latest.png";
  // Replaced atomically but not flushed to the device: a screenshot need not survive a power loss,
  // and the flush would cost as much wall time as the whole encoding of a plain desktop.
  common::write_file_atomic(path, png, common::Durability::Visible);
  _last_screenshot_path = common::utf8_of(path);
  return result;
}

Json DeskhandExecutor::_fallback_screenshot() {
  const std::string system = _platform->system();
  const auto dir = screenshot_dir();
  std::filesystem::create_directories(dir);
  const auto path = dir / "latest.png";
  const std::string path_text = common::utf8_of(path);
  try {
    host::ProcessOptions options;
    options.check = true;
    if (system == "Linux") {
      std::vector<std::string> command = _platform->get_screenshot_command();
      if (command.empty()) command = {"scrot", "-o"};
      command.push_back(path_text);
      options.timeout_seconds = 5;
      _platform->run_process(command, options);
    } else if (system == "Darwin") {
      options.timeout_seconds = 5;
      _platform->run_process({"screencapture", "-x", path_text}, options);
    } else if (system == "Windows") {
      const std::string script =
          "Add-Type -AssemblyName "
          "System.Windows.Forms;[System.Windows.Forms.Screen]::PrimaryScreen "
          "| ForEach-Object {$bmp = New-Object System.Drawing.Bitmap($_.Bounds.Width, "
          "$_.Bounds.Height);$g = [System.Drawing.Graphics]::FromImage($bmp);$g.CopyFromScreen($_."
          "Bounds.Location, [System.Drawing.Point]::Empty, $_.Bounds.Size);$bmp.Save('" +
          powershell_quoted(path_text) + "')}";
      options.timeout_seconds = 10;
      _platform->run_process({"powershell", "-Command", script}, options);
    } else {
      return error_result("No screenshot method for " + system);
    }
    image::RgbImage frame = image::read_png_file(path);
    std::string png;
    if (_scale_factor < 1.0) {
      frame = image::resize_bicubic(frame, _api_width, _api_height);
      png = image::encode_png(frame, image::PngEffort::Smallest);
      common::write_file_atomic(path, png, common::Durability::Visible);
    } else {
      png = image::encode_png(frame, image::PngEffort::Smallest);
    }
    Json result = image_result(png);
    _last_screenshot_path = path_text;
    return result;
  } catch (const std::exception& error) {
    return error_result(std::string("Screenshot fallback failed: ") + error.what());
  }
}

}  // namespace orvane::pc
