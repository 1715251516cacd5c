// The platform of the running process on Windows: SendInput and screen capture on the primary
// screen, the Win32 clipboard, user32's screen metrics and the host's services.
#include <windows.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "orvane/common/unicode.hpp"
#include "orvane/host/platform.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/desktop.hpp"
#include "windows/clipboard.hpp"
#include "windows/virtual_keys.hpp"
#include "windows/windows_input.hpp"

namespace orvane::pc {
namespace {

class SystemPlatform final : public DesktopPlatform {
 public:
  std::string system() override { return "Windows"; }

  // Opened on first use; a failure is tried again on the next call (a session may get a display).
  InputAutomation& input() override {
    if (!_input) _input = windows::WindowsInput::open();
    return *_input;
  }

  Clipboard* clipboard() override { return &_clipboard; }

  std::pair<int, int> windows_screen_metrics() override {
    // Without DPI awareness a scaled desktop reports its size in 96-DPI units, not pixels. An
    // earlier call (or the manifest) may have set it already: the result does not matter.
    ::SetProcessDPIAware();
    return {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }

  host::ProcessResult run_process(const std::vector<std::string>& args,
                                  const host::ProcessOptions& options) override {
    return host::run_process(args, options);
  }

  std::optional<std::pair<int, int>> get_screen_size_linux() override { return std::nullopt; }

  std::vector<std::string> get_screenshot_command() override {
    return host::get_screenshot_command();
  }

  void sleep(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }

 private:
  std::unique_ptr<windows::WindowsInput> _input;
  windows::WindowsClipboard _clipboard;
};

}  // namespace

std::shared_ptr<DesktopPlatform> make_system_platform() {
  return std::make_shared<SystemPlatform>();
}

// The names the X11 backend takes, as Windows keys; any single printable character is typed as
// Unicode.
bool can_press_key(std::string_view name) {
  if (windows::virtual_key_for_name(name)) return true;
  if (!common::is_valid_utf8(name)) return false;
  const std::u32string chars = common::decode_utf8(name);
  return chars.size() == 1 && chars[0] >= 0x20 && chars[0] != 0x7f;
}

}  // namespace orvane::pc
