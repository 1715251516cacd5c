#pragma once
// Where the pointer is, found without moving it: a transparent overlay over the whole output is
// shown for a moment, and the compositor's pointer-enter event on it gives the point.
#include <wayland-client.h>

#include <optional>
#include <utility>

#include "wayland/wayland_display.hpp"

namespace orvane::pc::wayland {

struct Overlay;

class PointerProbe {
 public:
  explicit PointerProbe(WaylandDisplay& display) : _display(display) {}
  ~PointerProbe();
  PointerProbe(const PointerProbe&) = delete;
  PointerProbe& operator=(const PointerProbe&) = delete;

  // True when the compositor offers what the overlay needs (the layer shell).
  bool available() const;
  // The pointer's place in `output`'s pixels, or nothing when it is not over that output or a
  // grab (a button held) keeps it from entering the overlay.
  std::optional<std::pair<int, int>> locate(const Output& output);

  // Listener state, public for the C callbacks.
  wl_surface* watched = nullptr;
  std::optional<std::pair<double, double>> entered;  // surface-local, logical

 private:
  // Maps the overlay and waits for the enter event; false when none came.
  bool _show(Overlay& overlay, const Output& output);

  WaylandDisplay& _display;
  wl_pointer* _pointer = nullptr;
};

}  // namespace orvane::pc::wayland
