// The platform of the running process: uname, the host's services, the desktop's input (a wlroots
// Wayland compositor or an X display), clipboard tools.
#include <sys/utsname.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "gnome/gnome_input.hpp"
#include "kde/kde_input.hpp"
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
    if (_gnome && _gnome->lost()) _gnome.reset();
    if (_kde && _kde->lost()) _kde.reset();
    if (_wayland && _wayland->lost()) _wayland.reset();
    if (_x11 && _x11->lost()) _x11.reset();
    if (InputAutomation* open = _opened()) return *open;
    _open_desktop();
    return *_opened();
  }

  Clipboard* clipboard() override {
    if (_wayland_session()) {
      // GNOME's clipboard is reached through the session that drives its input.
      try {
        input();
      } catch (const std::exception&) {
        // Then a tool, if any, as on any other desktop.
      }
      if (_gnome) return &_gnome_clipboard;
    }
    return _tool_clipboard();
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
        if (_gnome) return _gnome->screen_size();
        if (_kde) return _kde->screen_size();
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
  // ORVANE_DESKTOP=gnome|wayland|x11 forces one; otherwise a Wayland session when
  // $WAYLAND_DISPLAY is set, else X11.
  bool _wayland_session() const {
    const std::string forced = environment("ORVANE_DESKTOP");
    if (forced == "x11") return false;
    return !forced.empty() || !environment("WAYLAND_DISPLAY").empty();
  }

  // The first clipboard tool on PATH; a Wayland session's clipboard is the compositor's, which
  // xclip would not reach (it fills XWayland's). Kept at one address: KDE's input pastes
  // through it.
  Clipboard* _tool_clipboard() {
    static const std::vector<std::vector<std::string>> tools{
        {"xclip", "-selection", "clipboard"},
        {"xsel", "--clipboard", "--input"},
        {"wl-copy"},
    };
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

  InputAutomation* _opened() const {
    if (_gnome) return _gnome.get();
    if (_kde) return _kde.get();
    if (_wayland) return _wayland.get();
    return _x11.get();
  }

  // Tries the desktops in turn: GNOME when the session bus has Mutter's remote desktop, then a
  // wlroots compositor, then X. One warning names what each lacked when none works, or when a
  // Wayland session falls back to X.
  void _open_desktop() {
    const std::string forced = environment("ORVANE_DESKTOP");
    static const std::vector<std::string> known{"", "gnome", "kde", "wayland", "x11"};
    if (std::find(known.begin(), known.end(), forced) == known.end()) {
      throw std::runtime_error("ORVANE_DESKTOP is \"" + forced +
                               "\"; it may be gnome, kde, wayland or x11");
    }
    const bool wayland_session = !environment("WAYLAND_DISPLAY").empty();
    std::vector<std::string> failures;
    const auto attempt = [&](const char* name, auto open) {
      try {
        open();
        return true;
      } catch (const std::exception& error) {
        failures.push_back(std::string(name) + ": " + error.what());
        return false;
      }
    };
    if ((forced.empty() && wayland_session) || forced == "gnome") {
      if (attempt("GNOME", [&] { _gnome = gnome::GnomeInput::open(); })) return;
    }
    if ((forced.empty() && wayland_session) || forced == "kde") {
      // KWin shows its fake input and screen casts only to programs a .desktop file names.
      if (attempt("KDE", [&] { _kde = kde::KdeInput::open(_tool_clipboard()); })) return;
    }
    if ((forced.empty() && wayland_session) || forced == "wayland") {
      if (attempt("wlroots", [&] { _wayland = wayland::WaylandInput::open(); })) return;
    }
    if (forced.empty() || forced == "x11") {
      if (attempt("X11", [&] { _x11 = x11::X11Input::open(); })) {
        _warn_once(failures);
        return;
      }
    }
    if (failures.size() > 1) _warn_once(failures);
    // One desktop tried: its own words, as before there were several to try.
    if (failures.size() == 1) {
      const std::string& only = failures.front();
      const std::string message = only.substr(only.find(": ") + 2);
      if (only.rfind("X11", 0) == 0) throw std::runtime_error(message);
      const char* which = only.rfind("GNOME", 0) == 0 ? "GNOME"
                          : only.rfind("KDE", 0) == 0 ? "KDE"
                                                      : "Wayland";
      throw std::runtime_error(std::string("no ") + which + " desktop to automate: " + message);
    }
    std::string reasons;
    for (const auto& failure : failures) reasons += (reasons.empty() ? "" : "; ") + failure;
    throw std::runtime_error("no desktop to automate: " + reasons);
  }

  void _warn_once(const std::vector<std::string>& failures) {
    if (failures.empty() || _warned) return;
    _warned = true;
    std::string reasons;
    for (const auto& failure : failures) reasons += (reasons.empty() ? "" : "; ") + failure;
    host::get_logger("orvane.pc.deskhand")
        ->warn(
            "desktops tried and not usable: {}. Input and capture need GNOME (Mutter), a "
            "wlroots compositor (sway, Hyprland, river, labwc, Wayfire) or an X display",
            reasons);
  }

  // The clipboard of the GNOME session the input drives.
  class GnomeClipboard final : public Clipboard {
   public:
    explicit GnomeClipboard(SystemPlatform& platform) : _platform(platform) {}
    void copy(const std::string& text) override {
      _platform.input();  // a session that ended is started again
      if (!_platform._gnome) throw std::runtime_error("the GNOME session is gone");
      _platform._gnome->copy(text);
    }

   private:
    SystemPlatform& _platform;
  };

  std::unique_ptr<gnome::GnomeInput> _gnome;
  std::unique_ptr<kde::KdeInput> _kde;
  std::unique_ptr<wayland::WaylandInput> _wayland;
  std::unique_ptr<x11::X11Input> _x11;
  bool _warned = false;
  std::optional<ToolClipboard> _clipboard;
  GnomeClipboard _gnome_clipboard{*this};
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
