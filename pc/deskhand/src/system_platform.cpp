// The platform of the running process: uname, the host's services, the desktop's input (a wlroots
// Wayland compositor or an X display), clipboard tools.
#include <sys/utsname.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "orvane/host/log.hpp"
#include "orvane/host/platform.hpp"
#include "orvane/host/process.hpp"
#include "orvane/pc/desktop.hpp"
#include "wayland/wayland_input.hpp"
#include "x11/keysyms.hpp"
#include "x11/x11_input.hpp"

namespace orvane::pc {
namespace {

// Copies by handing the text to a clipboard tool on its standard input; the tool forks a process
// that keeps serving the selection after it returns, detached so that it holds none of our
// streams (`$(...)` around us would wait for it).
class ToolClipboard final : public Clipboard {
 public:
  explicit ToolClipboard(std::vector<std::string> command) : _command(std::move(command)) {}
  void copy(const std::string& text) override {
    host::ProcessOptions options;
    options.timeout_seconds = 5;
    options.check = true;
    options.input = text;
    options.detached = true;
    host::run_process(_command, options);
  }

 private:
  std::vector<std::string> _command;
};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class SystemPlatform final : public DesktopPlatform {
 public:
  std::string system() override {
    utsname name{};
    if (uname(&name) != 0) throw std::runtime_error("uname failed");
    return name.sysname;
  }

  InputAutomation& input() override {
    // Opened on first use and kept while the desktop lives; a failed open is tried again.
    if (_wayland && _wayland->lost()) _wayland.reset();
    if (_x11 && _x11->lost()) _x11.reset();
    if (_wayland) return *_wayland;
    if (_x11) return *_x11;
    _open_desktop();
    if (_wayland) return *_wayland;
    return *_x11;
  }

  Clipboard* clipboard() override {
    static const std::vector<std::vector<std::string>> tools{
        {"xclip", "-selection", "clipboard"},
        {"xsel", "--clipboard", "--input"},
        {"wl-copy"},
    };
    // A Wayland session's clipboard is the compositor's; xclip would fill XWayland's.
    static const std::vector<std::string> wayland_tool{"wl-copy"};
    if (_wayland_session() && host::program_exists(wayland_tool.front())) {
      _clipboard.emplace(wayland_tool);
      return &*_clipboard;
    }
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
    // On Wayland the X screen (XWayland's, if any) is not the output the input drives.
    if (_wayland_session()) {
      try {
        input();
        if (_wayland) return _wayland->screen_size();
      } catch (const std::exception&) {
        // No desktop to drive: the host answers as it can.
      }
    }
    return host::get_screen_size_linux();
  }

  // The host's command; on a Wayland session without one, grim, because scrot sees only
  // XWayland's windows there.
  std::vector<std::string> get_screenshot_command() override {
    std::vector<std::string> command = host::get_screenshot_command();
    if (!command.empty() || !_wayland_session() || !host::program_exists("grim")) return command;
    command = {"grim"};
    try {
      input();
      if (_wayland && !_wayland->output_name().empty())
        command.insert(command.end(), {"-o", _wayland->output_name()});
    } catch (const std::exception&) {
      // grim alone captures every output.
    }
    return command;
  }

  void sleep(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }

 private:
  // ORVANE_DESKTOP=wayland|x11 forces one; otherwise Wayland when $WAYLAND_DISPLAY is set and
  // its compositor offers the protocols, else X11.
  bool _wayland_session() const {
    const std::string forced = environment("ORVANE_DESKTOP");
    if (forced == "x11") return false;
    return forced == "wayland" || !environment("WAYLAND_DISPLAY").empty();
  }

  void _open_desktop() {
    const std::string forced = environment("ORVANE_DESKTOP");
    std::string wayland_failure;
    if (forced != "x11" && (forced == "wayland" || !environment("WAYLAND_DISPLAY").empty())) {
      try {
        _wayland = wayland::WaylandInput::open();
        return;
      } catch (const wayland::MissingProtocols& error) {
        wayland_failure = error.what();
        if (!_warned_protocols) {
          _warned_protocols = true;
          host::get_logger("orvane.pc.deskhand")
              ->warn(
                  "{}; input and capture need a wlroots compositor (sway, Hyprland, river, "
                  "labwc, Wayfire){}",
                  error.what(), forced == "wayland" ? "" : "; trying X11");
        }
      } catch (const std::exception& error) {
        wayland_failure = error.what();
      }
      if (forced == "wayland") {
        throw std::runtime_error("no Wayland desktop to automate: " + wayland_failure);
      }
    }
    try {
      _x11 = x11::X11Input::open();
    } catch (const std::exception& error) {
      if (wayland_failure.empty()) throw;
      throw std::runtime_error("no desktop to automate: " + wayland_failure + "; " + error.what());
    }
  }

  std::unique_ptr<wayland::WaylandInput> _wayland;
  std::unique_ptr<x11::X11Input> _x11;
  bool _warned_protocols = false;
  std::optional<ToolClipboard> _clipboard;
};

}  // namespace

std::shared_ptr<DesktopPlatform> make_system_platform() {
  return std::make_shared<SystemPlatform>();
}

// The X11 and Wayland inputs share the X keysym names.
bool can_press_key(std::string_view name) {
  return x11::keysym_for_name(name).has_value();
}

}  // namespace orvane::pc
