#include "support/sway.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "xdg-shell-client-protocol.h"

namespace orvane::pc::testing {

Sway::Sway() {
  char dir_template[] = "/tmp/orvane-sway-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  _dir = dir_template;
  chmod(_dir.c_str(), 0755);
  const std::string runtime = _dir + "/run";
  mkdir(runtime.c_str(), 0700);
  const bool root = geteuid() == 0;
  if (root) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) throw std::runtime_error("no user nobody to run sway as");
    if (chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
      throw std::runtime_error("cannot give the runtime directory to nobody");
  }
  const std::string config = _dir + "/config";
  std::ofstream(config) << "output HEADLESS-1 mode 2560x1440 position 0 0 scale 2\n"
                           "output HEADLESS-2 mode 1920x1080 position 1280 0 scale 1 "
                           "bg #884422 solid_color\n"
                           "default_border none\n"
                           "focus_follows_mouse no\n";
  chmod(config.c_str(), 0644);

  _pid = fork();
  if (_pid == 0) {
    const std::string log = _dir + "/sway.log";
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    const std::string runtime_env = "XDG_RUNTIME_DIR=" + runtime;
    const std::string home_env = "HOME=" + _dir;
    std::vector<const char*> args;
    if (root) {
      for (const char* arg : {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"})
        args.push_back(arg);
    }
    for (const char* arg :
         {"env", "-i", "PATH=/usr/bin:/bin", runtime_env.c_str(), home_env.c_str(),
          "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_HEADLESS_OUTPUTS=2",
          "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c", config.c_str()})
      args.push_back(arg);
    args.push_back(nullptr);
    execvp(args[0], const_cast<char* const*>(args.data()));
    _exit(127);
  }
  // The socket appears once sway is ready for clients.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (_socket.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (DIR* listing = opendir(runtime.c_str())) {
      while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos)
          _socket = runtime + "/" + name;
      }
      closedir(listing);
    }
    if (waitpid(_pid, nullptr, WNOHANG) == _pid) {
      _pid = -1;
      throw std::runtime_error("sway ended at start; see " + _dir + "/sway.log");
    }
  }
  if (_socket.empty()) throw std::runtime_error("sway did not start; see " + _dir + "/sway.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // outputs configured
  setenv("WAYLAND_DISPLAY", _socket.c_str(), 1);
}

Sway::~Sway() {
  unsetenv("WAYLAND_DISPLAY");
  if (_pid > 0) {
    kill(_pid, SIGTERM);
    waitpid(_pid, nullptr, 0);
  }
  std::system(("rm -rf " + _dir).c_str());
}

// ---- the client ----
namespace {

PatternClient& client(void* data) {
  return *static_cast<PatternClient*>(data);
}

void on_global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto& c = client(data);
  const std::string_view id(interface);
  if (id == wl_compositor_interface.name) {
    c.compositor =
        static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  } else if (id == wl_shm_interface.name) {
    c.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (id == wl_seat_interface.name) {
    c.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 5));
  } else if (id == xdg_wm_base_interface.name) {
    c.wm_base =
        static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
  } else if (id == wl_data_device_manager_interface.name) {
    c.data_manager = static_cast<wl_data_device_manager*>(
        wl_registry_bind(registry, name, &wl_data_device_manager_interface, 3));
  } else if (id == wl_output_interface.name && c.output == nullptr) {
    // The first output announced is HEADLESS-1, at the origin.
    c.output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
  }
}
void on_global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registry_listener{on_global, on_global_remove};

void on_output_geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                        const char*, int32_t) {}
void on_output_mode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void on_output_done(void*, wl_output*) {}
void on_output_scale(void* data, wl_output*, int32_t scale) {
  client(data)._scale = scale;
}
const wl_output_listener output_listener{on_output_geometry, on_output_mode, on_output_done,
                                         on_output_scale,    nullptr,        nullptr};

void on_ping(void*, xdg_wm_base* base, uint32_t serial) {
  xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener wm_base_listener{on_ping};

void on_surface_configure(void* data, xdg_surface* surface, uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  client(data).configured = true;
}
const xdg_surface_listener surface_listener{on_surface_configure};

void on_toplevel_configure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
  if (width > 0) client(data).width = width;
  if (height > 0) client(data).height = height;
}
void on_toplevel_close(void*, xdg_toplevel*) {}
const xdg_toplevel_listener toplevel_listener{on_toplevel_configure, on_toplevel_close};

void on_enter(void* data, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
  client(data)._events.push_back(
      {ClientEvent::Motion, wl_fixed_to_double(x), wl_fixed_to_double(y)});
}
void on_leave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void on_motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
  client(data)._events.push_back(
      {ClientEvent::Motion, wl_fixed_to_double(x), wl_fixed_to_double(y)});
}
void on_button(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
  ClientEvent event{ClientEvent::Button};
  event.code = button;
  event.pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
  client(data)._events.push_back(event);
}
void on_axis(void* data, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value) {
  ClientEvent event{ClientEvent::AxisValue};
  event.code = axis;
  event.value = wl_fixed_to_double(value);
  client(data)._events.push_back(event);
}
void on_frame(void*, wl_pointer*) {}
void on_axis_source(void*, wl_pointer*, uint32_t) {}
void on_axis_stop(void*, wl_pointer*, uint32_t, uint32_t) {}
void on_axis_discrete(void* data, wl_pointer*, uint32_t axis, int32_t discrete) {
  ClientEvent event{ClientEvent::Axis};
  event.code = axis;
  event.discrete = discrete;
  client(data)._events.push_back(event);
}
const wl_pointer_listener pointer_listener{on_enter,       on_leave,     on_motion,
                                           on_button,      on_axis,      on_frame,
                                           on_axis_source, on_axis_stop, on_axis_discrete};

void on_keymap(void* data, wl_keyboard*, uint32_t, int32_t fd, uint32_t size) {
  auto& c = client(data);
  void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (text == MAP_FAILED) return;
  xkb_keymap* keymap =
      xkb_keymap_new_from_string(c.xkb, static_cast<const char*>(text), XKB_KEYMAP_FORMAT_TEXT_V1,
                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(text, size);
  if (keymap == nullptr) return;
  if (c.state) xkb_state_unref(c.state);
  if (c.keymap) xkb_keymap_unref(c.keymap);
  c.keymap = keymap;
  c.state = xkb_state_new(keymap);
}
void on_key_enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void on_key_leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void on_key(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
  auto& c = client(data);
  if (c.state == nullptr) return;
  ClientEvent event{ClientEvent::Key};
  event.code = xkb_state_key_get_one_sym(c.state, key + 8);
  event.pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
  event.modifiers = xkb_state_serialize_mods(c.state, XKB_STATE_MODS_DEPRESSED);
  char text[64] = {};
  if (event.pressed) xkb_state_key_get_utf8(c.state, key + 8, text, sizeof text);
  event.text = text;
  c._events.push_back(event);
  // Ctrl+V pastes, as in any text field.
  if (event.pressed && event.code == XKB_KEY_v && (event.modifiers & c.modifier_mask("Control")))
    c.paste_asked = true;
}
void on_data_offer(void*, wl_data_device*, wl_data_offer*) {}
void on_data_enter(void*, wl_data_device*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t,
                   wl_data_offer*) {}
void on_data_leave(void*, wl_data_device*) {}
void on_data_motion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void on_data_drop(void*, wl_data_device*) {}
void on_selection(void* data, wl_data_device*, wl_data_offer* offer) {
  auto& c = client(data);
  if (c.selection) wl_data_offer_destroy(c.selection);
  c.selection = offer;
}
const wl_data_device_listener data_device_listener{on_data_offer,  on_data_enter, on_data_leave,
                                                   on_data_motion, on_data_drop,  on_selection};

void on_modifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                  uint32_t locked, uint32_t group) {
  auto& c = client(data);
  if (c.state) xkb_state_update_mask(c.state, depressed, latched, locked, 0, 0, group);
}
void on_repeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboard_listener{on_keymap, on_key_enter, on_key_leave,
                                             on_key,    on_modifiers, on_repeat};

void on_capabilities(void* data, wl_seat* seat, uint32_t capabilities) {
  auto& c = client(data);
  if (c.pointer == nullptr && c.keyboard == nullptr) std::this_thread::sleep_for(c.take_up_delay);
  if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && c.pointer == nullptr) {
    c.pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(c.pointer, &pointer_listener, data);
  }
  if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && c.keyboard == nullptr) {
    c.keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(c.keyboard, &keyboard_listener, data);
  }
}
void on_seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener seat_listener{on_capabilities, on_seat_name};

}  // namespace

std::uint32_t PatternClient::pattern(int x, int y) {
  return (static_cast<std::uint32_t>(x & 0xff) << 16) | ((y & 0xff) << 8) |
         ((x >> 8) << 4 | (y >> 8));
}

PatternClient::PatternClient(const std::string& socket) {
  xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  display = wl_display_connect(socket.c_str());
  if (display == nullptr) throw std::runtime_error("cannot connect to " + socket);
  _registry = wl_display_get_registry(display);
  wl_registry_add_listener(_registry, &registry_listener, this);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !seat || !wm_base || !output)
    throw std::runtime_error("the compositor lacks a global the test client needs");
  wl_output_add_listener(output, &output_listener, this);
  xdg_wm_base_add_listener(wm_base, &wm_base_listener, this);
  // Pointer and keyboard come with the first virtual devices.
  wl_seat_add_listener(seat, &seat_listener, this);
  if (data_manager) {
    data_device = wl_data_device_manager_get_data_device(data_manager, seat);
    wl_data_device_add_listener(data_device, &data_device_listener, this);
  }
  wl_display_roundtrip(display);

  _surface = wl_compositor_create_surface(compositor);
  _xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, _surface);
  xdg_surface_add_listener(_xdg_surface, &surface_listener, this);
  _toplevel = xdg_surface_get_toplevel(_xdg_surface);
  xdg_toplevel_add_listener(_toplevel, &toplevel_listener, this);
  xdg_toplevel_set_fullscreen(_toplevel, output);
  wl_surface_commit(_surface);
  // sway sizes a window once it is mapped, so a first small frame maps it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!configured && std::chrono::steady_clock::now() < deadline) _dispatch(100);
  if (width == 0) {
    width = height = 64;
    _paint();
    width = height = 0;
    while (width == 0 && std::chrono::steady_clock::now() < deadline) _dispatch(100);
  }
  if (width == 0) throw std::runtime_error("the test window was not configured");
  _paint();
  // Mapped, focused and drawn.
  for (int i = 0; i < 5; ++i) _dispatch(50);
}

void PatternClient::_paint() {
  const int w = width * _scale, h = height * _scale, stride = w * 4;
  const int fd = memfd_create("pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(stride) * h) != 0)
    throw std::runtime_error("cannot make the pattern buffer");
  auto* pixels = static_cast<std::uint32_t*>(mmap(nullptr, static_cast<std::size_t>(stride) * h,
                                                  PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) pixels[std::size_t(y) * w + x] = 0xff000000u | pattern(x, y);
  munmap(pixels, static_cast<std::size_t>(stride) * h);
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, stride * h);
  if (_buffer) wl_buffer_destroy(_buffer);
  _buffer = wl_shm_pool_create_buffer(pool, 0, w, h, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_surface_set_buffer_scale(_surface, _scale);
  wl_surface_attach(_surface, _buffer, 0, 0);
  wl_surface_damage(_surface, 0, 0, width, height);
  wl_surface_commit(_surface);
  wl_display_flush(display);
}

PatternClient::~PatternClient() {
  if (_buffer) wl_buffer_destroy(_buffer);
  if (_toplevel) xdg_toplevel_destroy(_toplevel);
  if (_xdg_surface) xdg_surface_destroy(_xdg_surface);
  if (_surface) wl_surface_destroy(_surface);
  // Every bound global and seat device too: the client library keeps each proxy until destroyed.
  if (selection) wl_data_offer_destroy(selection);
  if (data_device) wl_data_device_destroy(data_device);
  if (data_manager) wl_data_device_manager_destroy(data_manager);
  if (pointer) wl_pointer_destroy(pointer);
  if (keyboard) wl_keyboard_destroy(keyboard);
  if (wm_base) xdg_wm_base_destroy(wm_base);
  if (output) wl_output_destroy(output);
  if (seat) wl_seat_destroy(seat);
  if (shm) wl_shm_destroy(shm);
  if (compositor) wl_compositor_destroy(compositor);
  if (_registry) wl_registry_destroy(_registry);
  if (state) xkb_state_unref(state);
  if (keymap) xkb_keymap_unref(keymap);
  xkb_context_unref(xkb);
  wl_display_disconnect(display);
}

void PatternClient::_dispatch(int timeout_ms) {
  while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
  wl_display_flush(display);
  pollfd fd{wl_display_get_fd(display), POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) > 0) {
    wl_display_read_events(display);
  } else {
    wl_display_cancel_read(display);
  }
  wl_display_dispatch_pending(display);
  if (paste_asked) _paste();
}

// Reads the offered clipboard to its end, as a text field does on Ctrl+V.
void PatternClient::_paste() {
  paste_asked = false;
  ClientEvent event{ClientEvent::Paste};
  int fds[2];
  if (selection && pipe2(fds, O_CLOEXEC) == 0) {
    wl_data_offer_receive(selection, "text/plain;charset=utf-8", fds[1]);
    close(fds[1]);
    wl_display_flush(display);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    char chunk[4096];
    pollfd in{fds[0], POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline && poll(&in, 1, 100) >= 0) {
      const ssize_t n = read(fds[0], chunk, sizeof chunk);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      if (n > 0) event.text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fds[0]);
  }
  _events.push_back(event);
}

std::vector<ClientEvent> PatternClient::wait_for(
    const std::function<bool(const std::vector<ClientEvent>&)>& done,
    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  _dispatch(0);
  while (!done(_events) && std::chrono::steady_clock::now() < deadline) _dispatch(20);
  return _events;
}

std::uint32_t PatternClient::modifier_mask(const char* name) const {
  return keymap ? 1u << xkb_keymap_mod_get_index(keymap, name) : 0;
}

}  // namespace orvane::pc::testing
