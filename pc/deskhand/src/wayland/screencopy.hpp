#pragma once
// Whole-output capture through the wlroots screen-copy protocol into shared memory.
#include <memory>

#include "orvane/pc/desktop.hpp"
#include "wayland/shm_buffer.hpp"
#include "wayland/wayland_display.hpp"

namespace orvane::pc::wayland {

class Screencopy {
 public:
  explicit Screencopy(WaylandDisplay& display) : _display(display) {}
  // The output's next frame as packed RGB, top row first. Throws std::runtime_error when the
  // compositor fails the copy or offers a pixel format we cannot read.
  ScreenCapture capture(const Output& output);

 private:
  WaylandDisplay& _display;
  // Kept for the next capture while the output keeps its size and format.
  std::unique_ptr<ShmBuffer> _buffer;
};

}  // namespace orvane::pc::wayland
