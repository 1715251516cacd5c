#include "wayland/wayland_display.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#define namespace namespace_  // an argument's name in the generated C header
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace orvane::pc::wayland {
namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The pointer is mapped onto one output, which needs the manager's second version.
constexpr std::uint32_t POINTER_MANAGER_VERSION = 2;

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

// ---- output listeners: the current mode, and the place in the layout with the name ----

void on_geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                 const char*, int32_t) {}
void on_mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  auto* output = static_cast<Output*>(data);
  output->mode_width = width;
  output->mode_height = height;
}
void on_done(void*, wl_output*) {}
void on_scale(void* data, wl_output*, int32_t scale) {
  static_cast<Output*>(data)->scale = scale;
}
void on_output_name(void* data, wl_output*, const char* name) {
  static_cast<Output*>(data)->name = name;
}
void on_output_description(void*, wl_output*, const char*) {}

const wl_output_listener output_listener{on_geometry, on_mode,        on_done,
                                         on_scale,    on_output_name, on_output_description};

void on_logical_position(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
  auto* output = static_cast<Output*>(data);
  output->logical_x = x;
  output->logical_y = y;
}
void on_logical_size(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
  auto* output = static_cast<Output*>(data);
  output->logical_width = width;
  output->logical_height = height;
}
void on_xdg_done(void*, zxdg_output_v1*) {}
void on_xdg_name(void* data, zxdg_output_v1*, const char* name) {
  static_cast<Output*>(data)->name = name;
}
void on_xdg_description(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener xdg_output_listener{on_logical_position, on_logical_size, on_xdg_done,
                                                  on_xdg_name, on_xdg_description};

// ---- seat listener: which kinds of device it has ----

void on_capabilities(void* data, wl_seat*, uint32_t capabilities) {
  *static_cast<std::uint32_t*>(data) = capabilities;
}
void on_seat_name(void*, wl_seat*, const char*) {}

const wl_seat_listener seat_listener{on_capabilities, on_seat_name};

}  // namespace

MissingProtocols::MissingProtocols(std::vector<std::string> missing)
    : std::runtime_error("the Wayland compositor does not offer " + joined(missing)),
      _missing(std::move(missing)) {}

std::unique_ptr<WaylandDisplay> WaylandDisplay::connect(const char* socket) {
  const char* name = socket ? socket : std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') throw std::runtime_error("WAYLAND_DISPLAY is not set");
  wl_display* display = wl_display_connect(name);
  if (display == nullptr) {
    throw std::runtime_error(std::string("cannot connect to the Wayland display ") + name + ": " +
                             std::strerror(errno));
  }
  std::unique_ptr<WaylandDisplay> self(new WaylandDisplay(display));
  self->roundtrip();  // the globals
  self->roundtrip();  // the outputs' modes, names and places
  if (self->_seat == nullptr || self->_shm == nullptr)
    throw std::runtime_error("the Wayland compositor offers no seat or no shared memory");
  if (self->_outputs.empty()) throw std::runtime_error("the Wayland compositor has no output");
  return self;
}

std::unique_ptr<WaylandDisplay> WaylandDisplay::open(const char* socket) {
  auto self = connect(socket);
  std::vector<std::string> missing;
  if (self->_pointer_manager == nullptr) {
    missing.push_back(std::string(zwlr_virtual_pointer_manager_v1_interface.name) + " version " +
                      std::to_string(POINTER_MANAGER_VERSION));
  }
  if (self->_keyboard_manager == nullptr)
    missing.emplace_back(zwp_virtual_keyboard_manager_v1_interface.name);
  if (self->_screencopy_manager == nullptr)
    missing.emplace_back(zwlr_screencopy_manager_v1_interface.name);
  if (!missing.empty()) throw MissingProtocols(std::move(missing));
  return self;
}

WaylandDisplay::WaylandDisplay(wl_display* display) : _display(display) {
  static const wl_registry_listener listener{_on_global, _on_global_remove};
  _registry = wl_display_get_registry(_display);
  wl_registry_add_listener(_registry, &listener, this);
}

WaylandDisplay::~WaylandDisplay() {
  for (const auto& output : _outputs) {
    if (output->xdg_output) zxdg_output_v1_destroy(output->xdg_output);
    wl_output_destroy(output->output);
  }
  if (_xdg_output_manager) zxdg_output_manager_v1_destroy(_xdg_output_manager);
  if (_pointer_manager) zwlr_virtual_pointer_manager_v1_destroy(_pointer_manager);
  if (_keyboard_manager) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(_keyboard_manager));
  if (_screencopy_manager) zwlr_screencopy_manager_v1_destroy(_screencopy_manager);
  if (_shm) wl_shm_destroy(_shm);
  if (_layer_shell) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(_layer_shell));
  if (_compositor) wl_compositor_destroy(_compositor);
  if (_seat) wl_seat_destroy(_seat);
  wl_registry_destroy(_registry);
  wl_display_disconnect(_display);
}

void WaylandDisplay::_on_global(void* data, wl_registry* registry, std::uint32_t name,
                                const char* interface, std::uint32_t version) {
  auto* self = static_cast<WaylandDisplay*>(data);
  const std::string_view id(interface);
  self->_globals.push_back({name, std::string(id), version});
  if (id == wl_seat_interface.name && self->_seat == nullptr) {
    self->_seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
    wl_seat_add_listener(self->_seat, &seat_listener, &self->_seat_capabilities);
  } else if (id == wl_compositor_interface.name) {
    self->_compositor = bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 1);
  } else if (id == zwlr_layer_shell_v1_interface.name) {
    self->_layer_shell =
        bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 1);
  } else if (id == wl_shm_interface.name) {
    self->_shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
  } else if (id == wl_output_interface.name) {
    self->_add_output(name, version);
  } else if (id == zxdg_output_manager_v1_interface.name) {
    self->_xdg_output_manager =
        bind<zxdg_output_manager_v1>(registry, name, &zxdg_output_manager_v1_interface, version, 2);
    for (const auto& output : self->_outputs) self->_watch_output(*output);
  } else if (id == zwlr_virtual_pointer_manager_v1_interface.name &&
             version >= POINTER_MANAGER_VERSION) {
    self->_pointer_manager = bind<zwlr_virtual_pointer_manager_v1>(
        registry, name, &zwlr_virtual_pointer_manager_v1_interface, version,
        POINTER_MANAGER_VERSION);
  } else if (id == zwp_virtual_keyboard_manager_v1_interface.name) {
    self->_keyboard_manager = bind<zwp_virtual_keyboard_manager_v1>(
        registry, name, &zwp_virtual_keyboard_manager_v1_interface, version, 1);
  } else if (id == zwlr_screencopy_manager_v1_interface.name) {
    self->_screencopy_manager = bind<zwlr_screencopy_manager_v1>(
        registry, name, &zwlr_screencopy_manager_v1_interface, version, 1);
  }
}

void WaylandDisplay::_add_output(std::uint32_t global, std::uint32_t version) {
  auto output = std::make_unique<Output>();
  output->global = global;
  output->output = bind<wl_output>(_registry, global, &wl_output_interface, version, 4);
  wl_output_add_listener(output->output, &output_listener, output.get());
  _watch_output(*output);
  _outputs.push_back(std::move(output));
}

void WaylandDisplay::_watch_output(Output& output) {
  if (_xdg_output_manager == nullptr || output.xdg_output != nullptr) return;
  output.xdg_output = zxdg_output_manager_v1_get_xdg_output(_xdg_output_manager, output.output);
  zxdg_output_v1_add_listener(output.xdg_output, &xdg_output_listener, &output);
}

void WaylandDisplay::_on_global_remove(void* data, wl_registry*, std::uint32_t name) {
  auto* self = static_cast<WaylandDisplay*>(data);
  std::erase_if(self->_globals, [&](const Global& global) { return global.name == name; });
  auto& outputs = self->_outputs;
  const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                 [&](const auto& output) { return output->global == name; });
  if (gone == outputs.end()) return;
  if ((*gone)->xdg_output) zxdg_output_v1_destroy((*gone)->xdg_output);
  wl_output_destroy((*gone)->output);
  outputs.erase(gone);
}

void WaylandDisplay::check() const {
  if (const int error = wl_display_get_error(_display)) {
    std::uint32_t code = 0;
    const wl_interface* interface = nullptr;
    if (error == EPROTO) {
      wl_display_get_protocol_error(_display, &interface, nullptr);
      code = wl_display_get_protocol_error(_display, nullptr, nullptr);
      throw std::runtime_error(std::string("the Wayland compositor reported protocol error ") +
                               std::to_string(code) + " on " +
                               (interface ? interface->name : "an unknown object"));
    }
    throw std::runtime_error(std::string("the connection to the Wayland compositor was lost: ") +
                             std::strerror(error));
  }
}

void WaylandDisplay::flush() {
  while (wl_display_flush(_display) < 0) {
    if (errno != EAGAIN) {
      check();
      throw std::runtime_error(std::string("cannot write to the Wayland compositor: ") +
                               std::strerror(errno));
    }
    pollfd fd{wl_display_get_fd(_display), POLLOUT, 0};
    if (poll(&fd, 1, 5000) <= 0)
      throw std::runtime_error("the Wayland compositor stopped reading its requests");
  }
}

bool WaylandDisplay::_read_events(int timeout_ms) {
  check();
  while (wl_display_prepare_read(_display) != 0) wl_display_dispatch_pending(_display);
  try {
    flush();
  } catch (...) {
    wl_display_cancel_read(_display);
    throw;
  }
  pollfd fd{wl_display_get_fd(_display), POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0) {
    wl_display_cancel_read(_display);
    return false;
  }
  if (wl_display_read_events(_display) < 0) check();
  if (wl_display_dispatch_pending(_display) < 0) check();
  check();
  return true;
}

void WaylandDisplay::dispatch(int timeout_ms) {
  if (!_read_events(timeout_ms))
    throw std::runtime_error("the Wayland compositor did not answer in time");
}

bool WaylandDisplay::dispatch_until(const std::function<bool()>& done, int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (wl_display_dispatch_pending(_display) < 0) check();
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) return false;
    _read_events(static_cast<int>(left));
  }
}

void WaylandDisplay::roundtrip() {
  check();
  flush();
  if (wl_display_roundtrip(_display) < 0) check();
  check();
}

const Output& WaylandDisplay::output(const std::string& name) const {
  for (const auto& output : _outputs) {
    if (name.empty() ? output->logical_x == 0 && output->logical_y == 0 : output->name == name)
      return *output;
  }
  if (name.empty() && !_outputs.empty()) return *_outputs.front();
  throw std::runtime_error(name.empty() ? "the Wayland compositor has no output"
                                        : "the Wayland compositor has no output " + name);
}

const Global* WaylandDisplay::global(std::string_view interface) const {
  for (const auto& global : _globals) {
    if (global.interface == interface) return &global;
  }
  return nullptr;
}

const Output& WaylandDisplay::output_for(const wl_output* output) const {
  for (const auto& known : _outputs) {
    if (known->output == output) return *known;
  }
  throw std::runtime_error("the Wayland output is gone");
}

}  // namespace orvane::pc::wayland
