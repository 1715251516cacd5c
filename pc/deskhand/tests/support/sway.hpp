#pragma once
// A private headless sway for a test, and a client of its own on it that paints a known pattern
// over a whole output and records the pointer and keyboard events reaching it.
#include <sys/types.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;

namespace orvane::pc::testing {

// sway with the headless backend and the pixman renderer: HEADLESS-1 2560x1440 at scale 2 at
// the layout's origin, HEADLESS-2 1920x1080 at scale 1 beside it with a solid background of
// SWAY_BACKGROUND. sway refuses root, so as root it runs as nobody, in a runtime directory of
// its own. Sets $WAYLAND_DISPLAY to its socket's path while it lives.
class Sway {
 public:
  static constexpr std::uint32_t SWAY_BACKGROUND = 0x884422;
  Sway();
  ~Sway();
  Sway(const Sway&) = delete;
  Sway& operator=(const Sway&) = delete;
  const std::string& socket() const { return _socket; }

 private:
  pid_t _pid = -1;
  std::string _dir;
  std::string _socket;
};

struct ClientEvent {
  enum Type { Motion, Button, Axis, AxisValue, Key, Paste } type;
  double x = 0, y = 0;          // Motion: surface coordinates
  std::uint32_t code = 0;       // Button: evdev button; Key: keysym; Axis(Value): axis
  bool pressed = false;         // Button, Key
  int discrete = 0;             // Axis: steps
  double value = 0;             // AxisValue: the length scrolled
  std::string text;             // Key: the UTF-8 text a press types; Paste: what Ctrl+V read
  std::uint32_t modifiers = 0;  // Key: depressed modifiers at the time
};

// A fullscreen window on the output at the layout's origin, painted with pattern(x, y) in
// buffer pixels.
class PatternClient {
 public:
  explicit PatternClient(const std::string& socket);
  ~PatternClient();
  PatternClient(const PatternClient&) = delete;
  PatternClient& operator=(const PatternClient&) = delete;

  static std::uint32_t pattern(int x, int y);  // 0xRRGGBB
  int scale() const { return _scale; }
  std::vector<ClientEvent> wait_for(
      const std::function<bool(const std::vector<ClientEvent>&)>& done,
      std::chrono::milliseconds timeout = std::chrono::seconds(3));
  void clear() { _events.clear(); }
  // The modifier index of a name in the keymap the client was sent.
  std::uint32_t modifier_mask(const char* name) const;

  // Listener state, public for the C callbacks.
  wl_display* display = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  wl_output* output = nullptr;
  xdg_wm_base* wm_base = nullptr;
  wl_data_device_manager* data_manager = nullptr;
  wl_data_device* data_device = nullptr;
  wl_data_offer* selection = nullptr;  // the clipboard as offered now
  bool paste_asked = false;
  wl_pointer* pointer = nullptr;
  wl_keyboard* keyboard = nullptr;
  xkb_context* xkb = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* state = nullptr;
  std::chrono::milliseconds take_up_delay{0};  // how late a busy client binds new seat devices
  int _scale = 1;
  int width = 0, height = 0;  // logical, from the configure
  bool configured = false;
  std::vector<ClientEvent> _events;

 private:
  void _dispatch(int timeout_ms);
  void _paint();
  void _paste();
  wl_registry* _registry = nullptr;
  wl_surface* _surface = nullptr;
  xdg_surface* _xdg_surface = nullptr;
  xdg_toplevel* _toplevel = nullptr;
  wl_buffer* _buffer = nullptr;
};

}  // namespace orvane::pc::testing
