#include "wayland/shm_buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace orvane::pc::wayland {

ShmBuffer::ShmBuffer(wl_shm* shm, int width, int height, int stride, std::uint32_t format)
    : _width(width),
      _height(height),
      _stride(stride),
      _format(format),
      _size(static_cast<std::size_t>(stride) * height) {
  if (width <= 0 || height <= 0 || stride < width || _size > INT32_MAX) {
    throw std::runtime_error("unusable screen buffer size " + std::to_string(width) + "x" +
                             std::to_string(height) + ", stride " + std::to_string(stride));
  }
  const int fd = memfd_create("orvane-screen", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("memfd_create failed: ") + std::strerror(errno));
  if (ftruncate(fd, static_cast<off_t>(_size)) != 0) {
    const int error = errno;
    close(fd);
    throw std::runtime_error(std::string("cannot size the screen buffer: ") + std::strerror(error));
  }
  _data = mmap(nullptr, _size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (_data == MAP_FAILED) {
    const int error = errno;
    close(fd);
    throw std::runtime_error(std::string("cannot map the screen buffer: ") + std::strerror(error));
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(_size));
  _buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
  wl_shm_pool_destroy(pool);  // the buffer keeps the memory
  close(fd);
}

ShmBuffer::~ShmBuffer() {
  wl_buffer_destroy(_buffer);
  munmap(_data, _size);
}

}  // namespace orvane::pc::wayland
