#include "support/fake_platform.hpp"

#include <cstdlib>
#include <random>

#include "orvane/common/py_text.hpp"
#include "support/environment.hpp"

namespace orvane::pc::testing {
namespace {

std::string point(int x, int y) {
  return std::to_string(x) + ", " + std::to_string(y);
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + parts[i];
  return out;
}

}  // namespace

void FakeInput::click(int x, int y, int clicks) {
  _platform.calls.push_back("click(" + point(x, y) + ", " + std::to_string(clicks) + ")");
}
void FakeInput::rightClick(int x, int y) {
  _platform.calls.push_back("rightClick(" + point(x, y) + ")");
}
void FakeInput::middleClick(int x, int y) {
  _platform.calls.push_back("middleClick(" + point(x, y) + ")");
}
void FakeInput::doubleClick(int x, int y) {
  _platform.calls.push_back("doubleClick(" + point(x, y) + ")");
}
void FakeInput::moveTo(int x, int y, double duration) {
  _platform.calls.push_back("moveTo(" + point(x, y) + ", " + common::py_repr(duration) + ")");
}
void FakeInput::mouseDown() {
  _platform.calls.push_back("mouseDown()");
}
void FakeInput::mouseUp() {
  _platform.calls.push_back("mouseUp()");
}
void FakeInput::press(const std::string& key) {
  _platform.calls.push_back("press(" + key + ")");
}
void FakeInput::hotkey(const std::vector<std::string>& keys) {
  _platform.calls.push_back("hotkey(" + joined(keys) + ")");
}
void FakeInput::keyDown(const std::string& key) {
  _platform.calls.push_back("keyDown(" + key + ")");
}
void FakeInput::keyUp(const std::string& key) {
  _platform.calls.push_back("keyUp(" + key + ")");
}
void FakeInput::write(const std::string& text, double interval) {
  _platform.calls.push_back("write(" + text + ", " + common::py_repr(interval) + ")");
}
void FakeInput::scroll(int clicks) {
  _platform.calls.push_back("scroll(" + std::to_string(clicks) + ")");
}
void FakeInput::hscroll(int clicks) {
  _platform.calls.push_back("hscroll(" + std::to_string(clicks) + ")");
}
std::pair<int, int> FakeInput::position() {
  _platform.calls.push_back("position()");
  return _platform.pointer;
}
ScreenCapture FakeInput::screenshot() {
  _platform.calls.push_back("screenshot()");
  if (!_platform.capture) throw std::runtime_error("capture failed");
  return *_platform.capture;
}

void FakeClipboard::copy(const std::string& text) {
  _platform.calls.push_back("copy(" + text + ")");
  if (_platform.clipboard_fails) throw std::runtime_error("no clipboard mechanism");
}

std::string FakePlatform::system() {
  return system_name;
}

InputAutomation& FakePlatform::input() {
  if (!input_available) throw std::runtime_error("no input automation");
  return _input;
}

Clipboard* FakePlatform::clipboard() {
  return clipboard_available ? &_clipboard : nullptr;
}

std::pair<int, int> FakePlatform::windows_screen_metrics() {
  ++size_queries;
  if (!windows_metrics) throw std::runtime_error("user32 missing");
  return *windows_metrics;
}

host::ProcessResult FakePlatform::run_process(const std::vector<std::string>& args,
                                              const host::ProcessOptions& options) {
  ++size_queries;
  commands.push_back(args);
  command_options.push_back(options);
  if (on_run) return on_run(args, options);
  return {};
}

std::optional<std::pair<int, int>> FakePlatform::get_screen_size_linux() {
  ++size_queries;
  if (linux_size_throws) throw std::runtime_error("no display");
  return linux_size;
}

std::vector<std::string> FakePlatform::get_screenshot_command() {
  return screenshot_command;
}

void FakePlatform::sleep(double seconds) {
  calls.push_back("sleep(" + common::py_repr(seconds) + ")");
}

TempHome::TempHome() {
  std::random_device random;
  do {
    _path = std::filesystem::temp_directory_path() / ("deskhand-home-" + std::to_string(random()));
  } while (!std::filesystem::create_directory(_path));
  if (const char* home = std::getenv(HOME_VARIABLE)) _old_home = home;
  set_environment(HOME_VARIABLE, _path.string());
}

TempHome::~TempHome() {
  if (_old_home) {
    set_environment(HOME_VARIABLE, *_old_home);
  } else {
    unset_environment(HOME_VARIABLE);
  }
  std::error_code ignored;
  std::filesystem::remove_all(_path, ignored);
}

}  // namespace orvane::pc::testing
