#pragma once
// A connection to a Wayland compositor and the globals the input automation needs: the seat, the
// shared-memory factory, the outputs with their modes and places, and the wlroots managers for a
// virtual pointer, a virtual keyboard and screen copies; the compositor and the layer shell, when
// offered, for an overlay that finds the pointer.
#include <wayland-client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct zwlr_virtual_pointer_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_screencopy_manager_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_layer_shell_v1;

namespace orvane::pc::wayland {

// The compositor answers but lacks protocols the automation needs (GNOME and KDE, for instance).
class MissingProtocols : public std::runtime_error {
 public:
  explicit MissingProtocols(std::vector<std::string> missing);
  const std::vector<std::string>& missing() const { return _missing; }

 private:
  std::vector<std::string> _missing;
};

struct Output {
  std::uint32_t global = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg_output = nullptr;
  std::string name;  // "HEADLESS-1", "DP-2", ...
  int mode_width = 0;
  int mode_height = 0;
  int logical_x = 0;
  int logical_y = 0;
  int logical_width = 0;  // 0 until the compositor tells it (xdg-output)
  int logical_height = 0;
  int scale = 1;
};

// A global the compositor announced, bound or not.
struct Global {
  std::uint32_t name = 0;
  std::string interface;
  std::uint32_t version = 0;
};

class WaylandDisplay {
 public:
  // Connects to `socket` (null: $WAYLAND_DISPLAY) and collects the globals. Throws
  // std::runtime_error when there is no compositor to talk to, MissingProtocols when it lacks
  // one of the needed managers.
  static std::unique_ptr<WaylandDisplay> open(const char* socket = nullptr);
  // Connects and collects the globals without asking for the wlroots managers, for a compositor
  // whose own protocols the caller binds from globals().
  static std::unique_ptr<WaylandDisplay> connect(const char* socket = nullptr);
  ~WaylandDisplay();
  WaylandDisplay(const WaylandDisplay&) = delete;
  WaylandDisplay& operator=(const WaylandDisplay&) = delete;

  // Sends what is queued and waits until the compositor has handled it; throws once the
  // connection is broken.
  void roundtrip();
  // Sends what is queued, waiting for room in the socket when it is full.
  void flush();
  // Sends what is queued, waits up to `timeout_ms` for events and handles them; throws when none
  // came in time or the connection is broken.
  void dispatch(int timeout_ms);
  // Handles events until `done()` holds or `timeout_ms` has passed; answers `done()`. Throws once
  // the connection is broken.
  bool dispatch_until(const std::function<bool()>& done, int timeout_ms);
  // True once the compositor closed the connection or reported a protocol error.
  bool lost() const { return wl_display_get_error(_display) != 0; }
  void check() const;

  // The output called `name`, or without a name the one at the origin of the layout (else the
  // first one announced). Throws when there is none.
  const Output& output(const std::string& name = {}) const;
  // The output behind `output`; throws once the compositor has taken it away.
  const Output& output_for(const wl_output* output) const;

  wl_display* display() const { return _display; }
  wl_registry* registry() const { return _registry; }
  const std::vector<Global>& globals() const { return _globals; }
  // The announced global of this interface, or null.
  const Global* global(std::string_view interface) const;
  wl_seat* seat() const { return _seat; }
  // WL_SEAT_CAPABILITY_* bits, as the seat last announced them.
  std::uint32_t seat_capabilities() const { return _seat_capabilities; }
  wl_compositor* compositor() const { return _compositor; }
  zwlr_layer_shell_v1* layer_shell() const { return _layer_shell; }  // null when not offered
  wl_shm* shm() const { return _shm; }
  zwlr_virtual_pointer_manager_v1* pointer_manager() const { return _pointer_manager; }
  zwp_virtual_keyboard_manager_v1* keyboard_manager() const { return _keyboard_manager; }
  zwlr_screencopy_manager_v1* screencopy_manager() const { return _screencopy_manager; }

 private:
  explicit WaylandDisplay(wl_display* display);
  static void _on_global(void* self, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
  static void _on_global_remove(void* self, wl_registry* registry, std::uint32_t name);
  void _add_output(std::uint32_t global, std::uint32_t version);
  void _watch_output(Output& output);
  bool _read_events(int timeout_ms);

  wl_display* _display;
  wl_registry* _registry = nullptr;
  wl_seat* _seat = nullptr;
  std::uint32_t _seat_capabilities = 0;
  wl_compositor* _compositor = nullptr;
  zwlr_layer_shell_v1* _layer_shell = nullptr;
  wl_shm* _shm = nullptr;
  zxdg_output_manager_v1* _xdg_output_manager = nullptr;
  zwlr_virtual_pointer_manager_v1* _pointer_manager = nullptr;
  zwp_virtual_keyboard_manager_v1* _keyboard_manager = nullptr;
  zwlr_screencopy_manager_v1* _screencopy_manager = nullptr;
  std::vector<Global> _globals;
  // Stable addresses: the listeners hold pointers to them.
  std::vector<std::unique_ptr<Output>> _outputs;
};

}  // namespace orvane::pc::wayland
