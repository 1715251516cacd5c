#pragma once
// A scripted DesktopPlatform for what this machine cannot show: other operating systems, failing
// commands, missing clipboards. Every call lands in one ordered log of readable lines.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc::testing {

class FakePlatform;

class FakeInput final : public InputAutomation {
 public:
  explicit FakeInput(FakePlatform& platform) : _platform(platform) {}
  void click(int x, int y, int clicks) override;
  void rightClick(int x, int y) override;
  void middleClick(int x, int y) override;
  void doubleClick(int x, int y) override;
  void moveTo(int x, int y, double duration) override;
  void mouseDown() override;
  void mouseUp() override;
  void press(const std::string& key) override;
  void hotkey(const std::vector<std::string>& keys) override;
  void keyDown(const std::string& key) override;
  void keyUp(const std::string& key) override;
  void write(const std::string& text, double interval) override;
  void scroll(int clicks) override;
  void hscroll(int clicks) override;
  std::pair<int, int> position() override;
  ScreenCapture screenshot() override;

 private:
  FakePlatform& _platform;
};

class FakeClipboard final : public Clipboard {
 public:
  explicit FakeClipboard(FakePlatform& platform) : _platform(platform) {}
  void copy(const std::string& text) override;

 private:
  FakePlatform& _platform;
};

class FakePlatform final : public DesktopPlatform {
 public:
  // Script.
  std::string system_name = "Linux";
  bool input_available = true;
  bool clipboard_available = true;
  bool clipboard_fails = false;
  std::optional<std::pair<int, int>> linux_size = std::pair{1920, 1080};
  bool linux_size_throws = false;
  std::optional<std::pair<int, int>> windows_metrics;  // nullopt: user32 missing
  std::vector<std::string> screenshot_command;
  std::pair<int, int> pointer{0, 0};
  std::optional<ScreenCapture> capture;  // nullopt: the capture fails
  // Answers run_process; the default writes nothing and succeeds.
  std::function<host::ProcessResult(const std::vector<std::string>&, const host::ProcessOptions&)>
      on_run;

  // Record.
  std::vector<std::string> calls;
  std::vector<std::vector<std::string>> commands;
  std::vector<host::ProcessOptions> command_options;
  int size_queries = 0;

  std::string system() override;
  InputAutomation& input() override;
  Clipboard* clipboard() override;
  std::pair<int, int> windows_screen_metrics() override;
  host::ProcessResult run_process(const std::vector<std::string>& args,
                                  const host::ProcessOptions& options) override;
  std::optional<std::pair<int, int>> get_screen_size_linux() override;
  std::vector<std::string> get_screenshot_command() override;
  void sleep(double seconds) override;

 private:
  FakeInput _input{*this};
  FakeClipboard _clipboard{*this};
};

// An isolated home directory for the duration of a test.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::filesystem::path& path() const { return _path; }
  std::filesystem::path latest_png() const {
    return _path / ".orvane" / "screenshots" / "latest.png";
  }

 private:
  std::filesystem::path _path;
  std::optional<std::string> _old_home;
};

}  // namespace orvane::pc::testing
