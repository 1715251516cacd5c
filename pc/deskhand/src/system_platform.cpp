// The platform of the running process: uname, the host's services, X11 input, clipboard tools.
#include <sys/utsname.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "orvane/host/platform.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/desktop.hpp"
#include "x11/x11_input.hpp"

namespace orvane::pc {
namespace {

// Copies by handing the text to a clipboard tool on its standard input; the tool keeps serving
// the selection after it returns.
class ToolClipboard final : public Clipboard {
 public:
  explicit ToolClipboard(std::vector<std::string> command) : _command(std::move(command)) {}
  void copy(const std::string& text) override {
    host::ProcessOptions options;
    options.timeout_seconds = 5;
    options.check = true;
    options.input = text;
    host::run_process(_command, options);
  }

 private:
  std::vector<std::string> _command;
};

class SystemPlatform final : public DesktopPlatform {
 public:
  std::string system() override {
    utsname name{};
    if (uname(&name) != 0) throw std::runtime_error("uname failed");
    return name.sysname;
  }

  InputAutomation& input() override {
    // Opened on first use and kept while the display lives; a failed open is tried again.
    if (_input && _input->lost()) _input.reset();
    if (!_input) _input = x11::X11Input::open();
    return *_input;
  }

  Clipboard* clipboard() override {
    static const std::vector<std::vector<std::string>> tools{
        {"xclip", "-selection", "clipboard"},
        {"xsel", "--clipboard", "--input"},
        {"wl-copy"},
    };
    for (const auto& command : tools) {
      if (host::program_exists(command.front())) {
        _clipboard.emplace(command);
        return &*_clipboard;
      }
    }
    return nullptr;
  }

  std::pair<int, int> windows_screen_metrics() override {
    throw std::runtime_error("user32 is not available on this system");
  }

  host::ProcessResult run_process(const std::vector<std::string>& args,
                                  const host::ProcessOptions& options) override {
    return host::run_process(args, options);
  }

  std::optional<std::pair<int, int>> get_screen_size_linux() override {
    return host::get_screen_size_linux();
  }

  std::vector<std::string> get_screenshot_command() override {
    return host::get_screenshot_command();
  }

  void sleep(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }

 private:
  std::unique_ptr<x11::X11Input> _input;
  std::optional<ToolClipboard> _clipboard;
};

}  // namespace

std::shared_ptr<DesktopPlatform> make_system_platform() {
  return std::make_shared<SystemPlatform>();
}

}  // namespace orvane::pc
