#include "kde/kwin_screenshot.hpp"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace orvane::pc::kde {
namespace {

constexpr std::uint64_t CALL_TIMEOUT_US = 10'000'000;
constexpr int READ_TIMEOUT_MS = 10'000;

// QImage's formats KWin hands out: 32-bit pixels, as bytes in memory.
enum QImageFormat : std::uint32_t {
  RGB32 = 4,                   // B, G, R, X
  ARGB32 = 5,                  // B, G, R, A
  ARGB32_PREMULTIPLIED = 6,    // B, G, R, A
  RGBX8888 = 16,               // R, G, B, X
  RGBA8888 = 17,               // R, G, B, A
  RGBA8888_PREMULTIPLIED = 18  // R, G, B, A
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

void check(int r, const char* what) {
  if (r < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(-r));
}

// The image's geometry from the reply's a{sv}.
struct Metadata {
  std::uint32_t width = 0, height = 0, stride = 0, format = 0;
};

Metadata read_metadata(sd_bus_message* reply) {
  Metadata meta;
  check(sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}"), "reading KWin's reply");
  while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
    const char* key = nullptr;
    check(sd_bus_message_read(reply, "s", &key), "reading KWin's reply");
    const std::string name = key;
    std::uint32_t* field = name == "width"    ? &meta.width
                           : name == "height" ? &meta.height
                           : name == "stride" ? &meta.stride
                           : name == "format" ? &meta.format
                                              : nullptr;
    if (field != nullptr && sd_bus_message_enter_container(reply, SD_BUS_TYPE_VARIANT, "u") > 0) {
      check(sd_bus_message_read(reply, "u", field), "reading KWin's reply");
      sd_bus_message_exit_container(reply);
    } else {
      check(sd_bus_message_skip(reply, "v"), "reading KWin's reply");
    }
    sd_bus_message_exit_container(reply);
  }
  sd_bus_message_exit_container(reply);
  return meta;
}

// KWin writes the pixels into the pipe after it has answered, from a thread of its own.
std::vector<std::uint8_t> read_all(int fd, std::size_t expected) {
  std::vector<std::uint8_t> data;
  data.reserve(expected);
  std::uint8_t chunk[65536];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, READ_TIMEOUT_MS) <= 0)
      throw std::runtime_error("KWin did not send the screenshot's pixels in time");
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw std::runtime_error(std::string("cannot read KWin's screenshot: ") +
                               std::strerror(errno));
    if (n == 0) return data;
    data.insert(data.end(), chunk, chunk + n);
  }
}

}  // namespace

ScreenCapture kwin_screenshot(const std::string& output_name) {
  sd_bus* raw_bus = nullptr;
  check(sd_bus_open_user(&raw_bus), "cannot connect to the session bus");
  const std::unique_ptr<sd_bus, BusDeleter> bus(raw_bus);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
  Fd read_end{fds[0]};
  Fd write_end{fds[1]};

  sd_bus_message* raw_call = nullptr;
  check(sd_bus_message_new_method_call(bus.get(), &raw_call, "org.kde.KWin.ScreenShot2",
                                       "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                                       "CaptureScreen"),
        "cannot ask KWin for a screenshot");
  std::unique_ptr<sd_bus_message, MessageDeleter> call(raw_call);
  check(sd_bus_message_append(call.get(), "sa{sv}h", output_name.c_str(), 2, "include-cursor", "b",
                              0, "native-resolution", "b", 1, write_end.fd),
        "cannot ask KWin for a screenshot");

  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* raw_reply = nullptr;
  const int r = sd_bus_call(bus.get(), call.get(), CALL_TIMEOUT_US, &error, &raw_reply);
  const std::unique_ptr<sd_bus_message, MessageDeleter> reply(raw_reply);
  if (r < 0) {
    const std::string reason = error.message ? error.message : std::strerror(-r);
    sd_bus_error_free(&error);
    throw std::runtime_error("KWin refused a screenshot of " + output_name + ": " + reason);
  }
  // The pipe's end ends with KWin's copy only once ours and the message's (sd-bus keeps a
  // duplicate) are closed.
  call.reset();
  close(write_end.fd);
  write_end.fd = -1;

  const Metadata meta = read_metadata(reply.get());
  const bool bgr =
      meta.format == RGB32 || meta.format == ARGB32 || meta.format == ARGB32_PREMULTIPLIED;
  const bool rgb =
      meta.format == RGBX8888 || meta.format == RGBA8888 || meta.format == RGBA8888_PREMULTIPLIED;
  if (!bgr && !rgb)
    throw std::runtime_error("KWin's screenshot has an unknown format " +
                             std::to_string(meta.format));
  const std::size_t stride = meta.stride;
  const std::vector<std::uint8_t> data = read_all(read_end.fd, stride * meta.height);
  if (meta.width == 0 || stride < std::size_t{meta.width} * 4 || data.size() < stride * meta.height)
    throw std::runtime_error("KWin's screenshot of " + output_name + " is cut short");

  ScreenCapture capture;
  capture.width = static_cast<int>(meta.width);
  capture.height = static_cast<int>(meta.height);
  capture.rgb.resize(std::size_t{meta.width} * meta.height * 3);
  std::uint8_t* out = capture.rgb.data();
  for (std::uint32_t y = 0; y < meta.height; ++y) {
    const std::uint8_t* p = data.data() + y * stride;
    for (std::uint32_t x = 0; x < meta.width; ++x, p += 4, out += 3) {
      out[0] = bgr ? p[2] : p[0];
      out[1] = p[1];
      out[2] = bgr ? p[0] : p[2];
    }
  }
  return capture;
}

}  // namespace orvane::pc::kde
