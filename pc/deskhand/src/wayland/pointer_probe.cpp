#include "wayland/pointer_probe.hpp"

#include <algorithm>
#include <cmath>

#include "wayland/shm_buffer.hpp"
// The generated C header names an argument `namespace`.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace orvane::pc::wayland {
namespace {

constexpr int CONFIGURE_TIMEOUT_MS = 1000;
// sway sends the enter event as soon as the overlay is mapped under the pointer. A motion of
// nothing to make it look again is no help: through a pointer mapped onto one output it pulls the
// pointer onto that output.
constexpr int ENTER_TIMEOUT_MS = 200;

void on_enter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  auto* probe = static_cast<PointerProbe*>(data);
  if (surface != nullptr && surface == probe->watched)
    probe->entered = {wl_fixed_to_double(x), wl_fixed_to_double(y)};
}
void on_leave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void on_motion(void*, wl_pointer*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void on_button(void*, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void on_axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void on_frame(void*, wl_pointer*) {}
void on_axis_source(void*, wl_pointer*, uint32_t) {}
void on_axis_stop(void*, wl_pointer*, uint32_t, uint32_t) {}
void on_axis_discrete(void*, wl_pointer*, uint32_t, int32_t) {}

const wl_pointer_listener pointer_listener{on_enter,       on_leave,     on_motion,
                                           on_button,      on_axis,      on_frame,
                                           on_axis_source, on_axis_stop, on_axis_discrete};

}  // namespace

// A layer surface over everything on one output, anchored to all its edges.
struct Overlay {
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  std::optional<ShmBuffer> buffer;
  std::uint32_t serial = 0, width = 0, height = 0;
  bool configured = false, closed = false;

  ~Overlay() {
    if (layer) zwlr_layer_surface_v1_destroy(layer);
    if (surface) wl_surface_destroy(surface);
  }
};

namespace {

void on_configure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                  uint32_t height) {
  auto* overlay = static_cast<Overlay*>(data);
  overlay->serial = serial;
  overlay->width = width;
  overlay->height = height;
  overlay->configured = true;
}
void on_closed(void* data, zwlr_layer_surface_v1*) {
  static_cast<Overlay*>(data)->closed = true;
}

const zwlr_layer_surface_v1_listener layer_listener{on_configure, on_closed};

// The pixel a point falls in; wl_fixed keeps 1/256 of a logical pixel, so a point that was a
// whole pixel may come back a hair below it.
int to_pixels(double pixels, int size) {
  return static_cast<int>(std::clamp(std::floor(pixels + 1.0 / 32), 0.0, size - 1.0));
}

}  // namespace

PointerProbe::~PointerProbe() {
  if (_pointer) wl_pointer_destroy(_pointer);
}

bool PointerProbe::available() const {
  return _display.layer_shell() != nullptr && _display.compositor() != nullptr;
}

std::optional<std::pair<int, int>> PointerProbe::locate(const Output& output) {
  if (!available() || !(_display.seat_capabilities() & WL_SEAT_CAPABILITY_POINTER))
    return std::nullopt;
  if (_pointer == nullptr) {
    _pointer = wl_seat_get_pointer(_display.seat());
    wl_pointer_add_listener(_pointer, &pointer_listener, this);
  }
  entered.reset();
  std::optional<std::pair<double, double>> scale;  // output pixels per logical pixel
  {
    Overlay overlay;
    watched = overlay.surface = wl_compositor_create_surface(_display.compositor());
    try {
      if (_show(overlay, output))
        scale = {double(output.mode_width) / overlay.width,
                 double(output.mode_height) / overlay.height};
    } catch (...) {
      watched = nullptr;
      throw;
    }
    watched = nullptr;
  }
  _display.roundtrip();  // the overlay gone before anything else happens
  if (!entered || !scale) return std::nullopt;
  return std::pair{to_pixels(entered->first * scale->first, output.mode_width),
                   to_pixels(entered->second * scale->second, output.mode_height)};
}

bool PointerProbe::_show(Overlay& overlay, const Output& output) {
  overlay.layer =
      zwlr_layer_shell_v1_get_layer_surface(_display.layer_shell(), overlay.surface, output.output,
                                            ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "orvane-pointer");
  zwlr_layer_surface_v1_add_listener(overlay.layer, &layer_listener, &overlay);
  zwlr_layer_surface_v1_set_anchor(
      overlay.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                         ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_exclusive_zone(overlay.layer, -1);  // over panels too
  wl_surface_commit(overlay.surface);
  if (!_display.dispatch_until([&] { return overlay.configured || overlay.closed; },
                               CONFIGURE_TIMEOUT_MS) ||
      overlay.closed || overlay.width == 0 || overlay.height == 0) {
    return false;
  }
  zwlr_layer_surface_v1_ack_configure(overlay.layer, overlay.serial);
  // Zeroed memory: fully transparent.
  overlay.buffer.emplace(_display.shm(), static_cast<int>(overlay.width),
                         static_cast<int>(overlay.height), static_cast<int>(overlay.width) * 4,
                         WL_SHM_FORMAT_ARGB8888);
  wl_surface_attach(overlay.surface, overlay.buffer->buffer(), 0, 0);
  wl_surface_commit(overlay.surface);
  return _display.dispatch_until([&] { return entered.has_value(); }, ENTER_TIMEOUT_MS);
}

}  // namespace orvane::pc::wayland
