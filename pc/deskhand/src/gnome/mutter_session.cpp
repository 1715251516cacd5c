#include "gnome/mutter_session.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orvane::pc::gnome {
namespace {

constexpr const char* REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* REMOTE_DESKTOP_PATH = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* REMOTE_DESKTOP_SESSION = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* SCREEN_CAST = "org.gnome.Mutter.ScreenCast";
constexpr const char* SCREEN_CAST_PATH = "/org/gnome/Mutter/ScreenCast";
constexpr const char* SCREEN_CAST_SESSION = "org.gnome.Mutter.ScreenCast.Session";
constexpr const char* SCREEN_CAST_STREAM = "org.gnome.Mutter.ScreenCast.Stream";
constexpr auto STREAM_TIMEOUT = std::chrono::seconds(5);
// A keysym no keymap has a key for (a private-use character): Mutter makes its keyboard for it
// and then drops it.
constexpr std::uint32_t NO_KEY_HAS_IT = 0x100f8ff;
constexpr auto CLIPBOARD_WRITE_TIMEOUT = std::chrono::seconds(5);
constexpr std::uint32_t CURSOR_HIDDEN = 0;  // the cursor stays out of the frames, as on X11

// The text types the clipboard is offered as; Wayland and X clients ask for one of these.
const char* const TEXT_TYPES[] = {
    "text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT", nullptr};

struct BusError {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~BusError() { sd_bus_error_free(&error); }
  std::string text(int code) const {
    if (error.message != nullptr) return error.message;
    if (error.name != nullptr) return error.name;
    return std::strerror(-code);
  }
};

struct Message {
  sd_bus_message* m = nullptr;
  ~Message() { sd_bus_message_unref(m); }
};

void check(int code, const char* what) {
  if (code < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(-code));
}

}  // namespace

struct MutterSession::State {
  sd_bus* bus = nullptr;
  std::mutex mutex;  // guards the bus and everything below it
  std::condition_variable changed;
  std::string remote_desktop_session;
  std::string stream;
  std::string monitor = "the primary monitor";
  std::optional<std::uint32_t> node;
  std::pair<int, int> size{0, 0};
  std::string closed;  // why the session ended; empty while it lives
  bool clipboard_enabled = false;
  std::string clipboard;
  std::uint64_t clipboard_reads = 0;
  std::vector<sd_bus_slot*> slots;
  int wake = -1;
  std::atomic<bool> stopping{false};
  std::thread dispatcher;

  ~State() {
    stopping = true;
    if (wake >= 0) poke();
    if (dispatcher.joinable()) dispatcher.join();
    for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
    if (bus != nullptr) sd_bus_flush_close_unref(bus);
    if (wake >= 0) ::close(wake);
  }

  // A method call on Mutter, with the lock held. Wakes the dispatcher afterwards: the call may
  // have read signals off the socket that only it hands out.
  void call(const std::string& destination, const std::string& path, const char* interface,
            const char* member, Message* reply, const char* types, ...) {
    BusError error;
    sd_bus_message* request = nullptr;
    int code = sd_bus_message_new_method_call(bus, &request, destination.c_str(), path.c_str(),
                                              interface, member);
    Message owned{request};
    if (code >= 0 && types != nullptr && *types != '\0') {
      va_list args;
      va_start(args, types);
      code = sd_bus_message_appendv(request, types, args);
      va_end(args);
    }
    if (code >= 0) code = sd_bus_call(bus, request, 0, &error.error, reply ? &reply->m : nullptr);
    poke();
    if (code < 0) {
      throw std::runtime_error(std::string("GNOME's ") + member + " failed: " + error.text(code));
    }
  }
  void call_message(sd_bus_message* request, const char* member, Message* reply) {
    BusError error;
    const int code = sd_bus_call(bus, request, 0, &error.error, reply ? &reply->m : nullptr);
    poke();
    if (code < 0) {
      throw std::runtime_error(std::string("GNOME's ") + member + " failed: " + error.text(code));
    }
  }
  void poke() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
  }
  void ensure_alive() const {
    if (!closed.empty())
      throw std::runtime_error("GNOME's remote desktop session ended: " + closed);
  }

  void run() {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    std::unique_lock lock(mutex);
    while (!stopping) {
      int code = 0;
      while ((code = sd_bus_process(bus, nullptr)) > 0) {
      }
      if (code < 0) {
        if (closed.empty())
          closed = std::string("the session bus went away: ") + std::strerror(-code);
        changed.notify_all();
        return;
      }
      pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                       {wake, POLLIN, 0}};
      std::uint64_t until = 0;
      int timeout_ms = 1000;
      if (sd_bus_get_timeout(bus, &until) > 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t now_us = now.tv_sec * 1000000ULL + now.tv_nsec / 1000;
        timeout_ms =
            until <= now_us
                ? 0
                : static_cast<int>(std::min<std::uint64_t>((until - now_us + 999) / 1000, 1000));
      }
      lock.unlock();
      ::poll(fds, 2, timeout_ms);
      if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wake, &count, sizeof count);
      }
      lock.lock();
    }
  }

  // Someone pastes: Mutter asks for our clipboard's bytes through a pipe. Written here, with a
  // bound on how long a reader that stopped reading can hold the bus.
  void transfer(std::uint32_t serial) {
    bool written = false;
    try {
      Message reply;
      call(REMOTE_DESKTOP, remote_desktop_session, REMOTE_DESKTOP_SESSION, "SelectionWrite", &reply,
           "u", serial);
      int fd = -1;
      check(sd_bus_message_read(reply.m, "h", &fd), "reading the clipboard pipe");
      written = write_all(fd, clipboard);
      ++clipboard_reads;
      changed.notify_all();
    } catch (const std::exception&) {
      // Told to Mutter below; the paste gets nothing.
    }
    try {
      call(REMOTE_DESKTOP, remote_desktop_session, REMOTE_DESKTOP_SESSION, "SelectionWriteDone",
           nullptr, "ub", serial, written ? 1 : 0);
    } catch (const std::exception&) {
    }
  }

  // On the dispatcher's thread, which blocks SIGPIPE: a reader gone is EPIPE, not a signal.
  static bool write_all(int fd, const std::string& text) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + CLIPBOARD_WRITE_TIMEOUT;
    std::size_t at = 0;
    while (at < text.size()) {
      const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd out{fd, POLLOUT, 0};
      ::poll(&out, 1, static_cast<int>(left.count()));
    }
    return true;
  }
};

namespace {

int on_stream_added(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& state = *static_cast<MutterSession::State*>(data);
  std::uint32_t node = 0;
  if (sd_bus_message_read(message, "u", &node) >= 0) {
    state.node = node;
    state.changed.notify_all();
  }
  return 0;
}

int on_closed(sd_bus_message*, void* data, sd_bus_error*) {
  auto& state = *static_cast<MutterSession::State*>(data);
  if (state.closed.empty()) state.closed = "Mutter closed it";
  state.changed.notify_all();
  return 0;
}

int on_selection_transfer(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& state = *static_cast<MutterSession::State*>(data);
  const char* mime = nullptr;
  std::uint32_t serial = 0;
  if (sd_bus_message_read(message, "su", &mime, &serial) >= 0) state.transfer(serial);
  return 0;
}

std::string read_path(Message& reply) {
  const char* path = nullptr;
  check(sd_bus_message_read(reply.m, "o", &path), "reading a session path");
  return path;
}

// The stream's "size" parameter: the monitor's size in the stream's pixels.
std::pair<int, int> read_size(sd_bus_message* reply) {
  std::pair<int, int> size{0, 0};
  check(sd_bus_message_enter_container(reply, 'a', "{sv}"), "reading the stream's parameters");
  while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
    const char* key = nullptr;
    check(sd_bus_message_read(reply, "s", &key), "reading the stream's parameters");
    if (std::string_view(key) == "size") {
      check(sd_bus_message_read(reply, "v", "(ii)", &size.first, &size.second),
            "reading the stream's size");
    } else {
      check(sd_bus_message_skip(reply, "v"), "reading the stream's parameters");
    }
    sd_bus_message_exit_container(reply);
  }
  return size;
}

}  // namespace

std::unique_ptr<MutterSession> MutterSession::open() {
  auto state = std::make_unique<State>();
  const int opened = sd_bus_open_user(&state->bus);
  if (opened < 0) {
    throw MutterUnavailable(std::string("no session D-Bus to reach GNOME: ") +
                            std::strerror(-opened));
  }
  state->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state->wake < 0) throw std::runtime_error("eventfd failed");
  State& s = *state;
  std::unique_lock lock(s.mutex);

  Message reply;
  try {
    s.call(REMOTE_DESKTOP, REMOTE_DESKTOP_PATH, REMOTE_DESKTOP, "CreateSession", &reply, "");
  } catch (const std::exception& error) {
    throw MutterUnavailable(std::string("the session bus has no GNOME remote desktop (") +
                            error.what() + ")");
  }
  s.remote_desktop_session = read_path(reply);
  BusError error;
  char* id = nullptr;
  const int got =
      sd_bus_get_property_string(s.bus, REMOTE_DESKTOP, s.remote_desktop_session.c_str(),
                                 REMOTE_DESKTOP_SESSION, "SessionId", &error.error, &id);
  if (got < 0)
    throw std::runtime_error("GNOME's remote desktop session has no id: " + error.text(got));
  const std::string session_id = id;
  std::free(id);

  Message cast;
  s.call(SCREEN_CAST, SCREEN_CAST_PATH, SCREEN_CAST, "CreateSession", &cast, "a{sv}", 1,
         "remote-desktop-session-id", "s", session_id.c_str());
  const std::string cast_session = read_path(cast);
  // An empty connector is the primary monitor.
  Message stream;
  s.call(SCREEN_CAST, cast_session, SCREEN_CAST_SESSION, "RecordMonitor", &stream, "sa{sv}", "", 1,
         "cursor-mode", "u", CURSOR_HIDDEN);
  s.stream = read_path(stream);

  sd_bus_slot* slot = nullptr;
  check(sd_bus_match_signal(s.bus, &slot, SCREEN_CAST, s.stream.c_str(), SCREEN_CAST_STREAM,
                            "PipeWireStreamAdded", on_stream_added, &s),
        "watching the screen cast");
  s.slots.push_back(slot);
  check(sd_bus_match_signal(s.bus, &slot, REMOTE_DESKTOP, s.remote_desktop_session.c_str(),
                            REMOTE_DESKTOP_SESSION, "Closed", on_closed, &s),
        "watching the session");
  s.slots.push_back(slot);
  check(sd_bus_match_signal(s.bus, &slot, REMOTE_DESKTOP, s.remote_desktop_session.c_str(),
                            REMOTE_DESKTOP_SESSION, "SelectionTransfer", on_selection_transfer, &s),
        "watching the clipboard");
  s.slots.push_back(slot);

  s.call(REMOTE_DESKTOP, s.remote_desktop_session, REMOTE_DESKTOP_SESSION, "Start", nullptr, "");
  s.dispatcher = std::thread([&s] { s.run(); });
  if (!s.changed.wait_for(lock, STREAM_TIMEOUT, [&] { return s.node || !s.closed.empty(); })) {
    lock.unlock();
    throw std::runtime_error("GNOME's screen cast announced no PipeWire stream within 5 s");
  }
  s.ensure_alive();

  Message parameters;
  error = {};
  const int read = sd_bus_get_property(s.bus, SCREEN_CAST, s.stream.c_str(), SCREEN_CAST_STREAM,
                                       "Parameters", &error.error, &parameters.m, "a{sv}");
  if (read < 0)
    throw std::runtime_error("GNOME's screen cast has no parameters: " + error.text(read));
  s.size = read_size(parameters.m);
  lock.unlock();
  return std::unique_ptr<MutterSession>(new MutterSession(std::move(state)));
}

MutterSession::MutterSession(std::unique_ptr<State> state) : _state(std::move(state)) {}
MutterSession::~MutterSession() = default;

bool MutterSession::lost() const {
  std::lock_guard lock(_state->mutex);
  return !_state->closed.empty();
}
std::uint32_t MutterSession::node_id() const {
  return *_state->node;
}
const std::string& MutterSession::monitor() const {
  return _state->monitor;
}
std::pair<int, int> MutterSession::size() const {
  return _state->size;
}

void MutterSession::announce_devices() {
  std::lock_guard lock(_state->mutex);
  _state->ensure_alive();
  _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
               "NotifyPointerMotionRelative", nullptr, "dd", 0.0, 0.0);
  for (const int pressed : {1, 0}) {
    _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
                 "NotifyKeyboardKeysym", nullptr, "ub", NO_KEY_HAS_IT, pressed);
  }
}

void MutterSession::pointer_motion(double x, double y) {
  std::lock_guard lock(_state->mutex);
  _state->ensure_alive();
  _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
               "NotifyPointerMotionAbsolute", nullptr, "sdd", _state->stream.c_str(), x, y);
}

void MutterSession::pointer_button(int evdev_button, bool pressed) {
  std::lock_guard lock(_state->mutex);
  _state->ensure_alive();
  _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
               "NotifyPointerButton", nullptr, "ib", evdev_button, pressed ? 1 : 0);
}

void MutterSession::pointer_wheel(unsigned axis, int steps) {
  std::lock_guard lock(_state->mutex);
  _state->ensure_alive();
  _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
               "NotifyPointerAxisDiscrete", nullptr, "ui", axis, steps);
}

void MutterSession::key(std::uint32_t keysym, bool pressed) {
  std::lock_guard lock(_state->mutex);
  _state->ensure_alive();
  _state->call(REMOTE_DESKTOP, _state->remote_desktop_session, REMOTE_DESKTOP_SESSION,
               "NotifyKeyboardKeysym", nullptr, "ub", keysym, pressed ? 1 : 0);
}

void MutterSession::set_clipboard(std::string text) {
  std::lock_guard lock(_state->mutex);
  State& s = *_state;
  s.ensure_alive();
  if (!s.clipboard_enabled) {
    s.call(REMOTE_DESKTOP, s.remote_desktop_session, REMOTE_DESKTOP_SESSION, "EnableClipboard",
           nullptr, "a{sv}", 0);
    s.clipboard_enabled = true;
  }
  s.clipboard = std::move(text);
  sd_bus_message* request = nullptr;
  check(sd_bus_message_new_method_call(s.bus, &request, REMOTE_DESKTOP,
                                       s.remote_desktop_session.c_str(), REMOTE_DESKTOP_SESSION,
                                       "SetSelection"),
        "offering the clipboard");
  Message owned{request};
  check(sd_bus_message_open_container(request, 'a', "{sv}"), "offering the clipboard");
  check(sd_bus_message_open_container(request, 'e', "sv"), "offering the clipboard");
  check(sd_bus_message_append(request, "s", "mime-types"), "offering the clipboard");
  check(sd_bus_message_open_container(request, 'v', "as"), "offering the clipboard");
  check(sd_bus_message_append_strv(request, const_cast<char**>(TEXT_TYPES)),
        "offering the clipboard");
  check(sd_bus_message_close_container(request), "offering the clipboard");
  check(sd_bus_message_close_container(request), "offering the clipboard");
  check(sd_bus_message_close_container(request), "offering the clipboard");
  s.call_message(request, "SetSelection", nullptr);
}

std::uint64_t MutterSession::clipboard_reads() const {
  std::lock_guard lock(_state->mutex);
  return _state->clipboard_reads;
}

bool MutterSession::wait_for_clipboard_read(std::uint64_t count,
                                            std::chrono::milliseconds timeout) {
  std::unique_lock lock(_state->mutex);
  return _state->changed.wait_for(lock, timeout, [&] {
    return _state->clipboard_reads > count || !_state->closed.empty();
  }) && _state->clipboard_reads > count;
}

}  // namespace orvane::pc::gnome
