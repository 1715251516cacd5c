#include "wayland/screencopy.hpp"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace orvane::pc::wayland {
namespace {

// Where red, green and blue sit among a pixel's bytes in memory (the formats are little-endian).
struct Layout {
  std::uint32_t format;
  int bytes;
  int red, green, blue;
};

constexpr std::array LAYOUTS{
    Layout{WL_SHM_FORMAT_XRGB8888, 4, 2, 1, 0}, Layout{WL_SHM_FORMAT_ARGB8888, 4, 2, 1, 0},
    Layout{WL_SHM_FORMAT_XBGR8888, 4, 0, 1, 2}, Layout{WL_SHM_FORMAT_ABGR8888, 4, 0, 1, 2},
    Layout{WL_SHM_FORMAT_RGBX8888, 4, 3, 2, 1}, Layout{WL_SHM_FORMAT_RGBA8888, 4, 3, 2, 1},
    Layout{WL_SHM_FORMAT_BGRX8888, 4, 1, 2, 3}, Layout{WL_SHM_FORMAT_BGRA8888, 4, 1, 2, 3},
    Layout{WL_SHM_FORMAT_RGB888, 3, 2, 1, 0},   Layout{WL_SHM_FORMAT_BGR888, 3, 0, 1, 2},
};

const Layout* layout_of(std::uint32_t format) {
  for (const auto& layout : LAYOUTS) {
    if (layout.format == format) return &layout;
  }
  return nullptr;
}

std::string format_name(std::uint32_t format) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", format);
  return text;
}

// What the compositor tells about one frame.
struct Frame {
  bool have_buffer = false;
  std::uint32_t format = 0;
  int width = 0, height = 0, stride = 0;
  std::uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

void on_buffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
               uint32_t height, uint32_t stride) {
  auto* frame = static_cast<Frame*>(data);
  frame->have_buffer = true;
  frame->format = format;
  frame->width = static_cast<int>(width);
  frame->height = static_cast<int>(height);
  frame->stride = static_cast<int>(stride);
}
void on_flags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
  static_cast<Frame*>(data)->flags = flags;
}
void on_ready(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
  static_cast<Frame*>(data)->ready = true;
}
void on_failed(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<Frame*>(data)->failed = true;
}

const zwlr_screencopy_frame_v1_listener frame_listener{on_buffer, on_flags, on_ready, on_failed};

ScreenCapture to_rgb(const ShmBuffer& buffer, const Frame& frame, const Layout& layout) {
  ScreenCapture capture;
  capture.width = frame.width;
  capture.height = frame.height;
  capture.rgb.resize(static_cast<std::size_t>(frame.width) * frame.height * 3);
  const bool inverted = frame.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
  std::uint8_t* out = capture.rgb.data();
  for (int y = 0; y < frame.height; ++y) {
    const int source_row = inverted ? frame.height - 1 - y : y;
    const std::uint8_t* in = buffer.data() + static_cast<std::size_t>(source_row) * frame.stride;
    for (int x = 0; x < frame.width; ++x, in += layout.bytes, out += 3) {
      out[0] = in[layout.red];
      out[1] = in[layout.green];
      out[2] = in[layout.blue];
    }
  }
  return capture;
}

// A headless output draws a frame only on demand; the copy asks for one.
constexpr int COPY_TIMEOUT_MS = 5000;

}  // namespace

ScreenCapture Screencopy::capture(const Output& output) {
  Frame frame;
  zwlr_screencopy_frame_v1* request =
      zwlr_screencopy_manager_v1_capture_output(_display.screencopy_manager(), 0, output.output);
  zwlr_screencopy_frame_v1_add_listener(request, &frame_listener, &frame);
  struct Release {
    zwlr_screencopy_frame_v1* frame;
    ~Release() { zwlr_screencopy_frame_v1_destroy(frame); }
  } release{request};

  while (!frame.have_buffer && !frame.failed) _display.roundtrip();
  if (frame.failed) throw std::runtime_error("the Wayland compositor could not copy the screen");
  const Layout* layout = layout_of(frame.format);
  if (layout == nullptr) {
    throw std::runtime_error("the Wayland compositor copies the screen in pixel format " +
                             format_name(frame.format) + ", which is not read here");
  }
  if (frame.stride < frame.width * layout->bytes) {
    throw std::runtime_error("the Wayland compositor gives a screen row stride too short");
  }
  if (!_buffer || !_buffer->fits(frame.width, frame.height, frame.stride, frame.format)) {
    _buffer.reset();
    _buffer = std::make_unique<ShmBuffer>(_display.shm(), frame.width, frame.height, frame.stride,
                                          frame.format);
  }
  zwlr_screencopy_frame_v1_copy(request, _buffer->buffer());
  while (!frame.ready && !frame.failed) _display.dispatch(COPY_TIMEOUT_MS);
  if (frame.failed) throw std::runtime_error("the Wayland compositor could not copy the screen");
  return to_rgb(*_buffer, frame, *layout);
}

}  // namespace orvane::pc::wayland
