#pragma once
// A wl_buffer in memory shared with the compositor (an anonymous memfd).
#include <wayland-client.h>

#include <cstddef>
#include <cstdint>

namespace orvane::pc::wayland {

class ShmBuffer {
 public:
  // Throws std::runtime_error when the memory cannot be had.
  ShmBuffer(wl_shm* shm, int width, int height, int stride, std::uint32_t format);
  ~ShmBuffer();
  ShmBuffer(const ShmBuffer&) = delete;
  ShmBuffer& operator=(const ShmBuffer&) = delete;

  bool fits(int width, int height, int stride, std::uint32_t format) const {
    return width == _width && height == _height && stride == _stride && format == _format;
  }
  wl_buffer* buffer() const { return _buffer; }
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(_data); }
  int stride() const { return _stride; }

 private:
  int _width, _height, _stride;
  std::uint32_t _format;
  std::size_t _size;
  void* _data = nullptr;
  wl_buffer* _buffer = nullptr;
};

}  // namespace orvane::pc::wayland
