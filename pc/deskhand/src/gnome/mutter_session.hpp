#pragma once
// A remote-desktop session of GNOME's compositor (Mutter), over the session D-Bus: virtual
// pointer and keyboard, the clipboard, and a screen cast of the primary monitor the pointer's
// absolute points refer to. Mutter ends the session when the connection that created it closes,
// so the connection lives as long as this object; a thread of its own answers Mutter's calls
// (a paste asking for our clipboard) while the caller is busy elsewhere.
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace orvane::pc::gnome {

// The session bus has no Mutter offering remote desktop and screen cast.
class MutterUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MutterSession {
 public:
  // Throws MutterUnavailable when Mutter's interfaces are not on the session bus, and
  // std::runtime_error when they are but the session cannot be started.
  static std::unique_ptr<MutterSession> open();
  ~MutterSession();
  MutterSession(const MutterSession&) = delete;
  MutterSession& operator=(const MutterSession&) = delete;

  // True once Mutter closed the session or the bus went away; every call then throws.
  bool lost() const;
  // The screen cast's PipeWire node, its monitor's connector ("Meta-0") and its size in pixels.
  std::uint32_t node_id() const;
  const std::string& monitor() const;
  std::pair<int, int> size() const;

  // Mutter makes its virtual pointer and keyboard, and the seat announces them to windows, only
  // when they are first used: used here without effect (no motion, a release of a key not held),
  // so that windows have bound them before the first real event.
  void announce_devices();
  void pointer_motion(double x, double y);  // in the screen cast's pixels
  void pointer_button(int evdev_button, bool pressed);
  void pointer_wheel(unsigned axis, int steps);  // axis 0 vertical, 1 horizontal; + is down/right
  void key(std::uint32_t keysym, bool pressed);
  // Offers `text` as the clipboard's content until something else takes the clipboard.
  void set_clipboard(std::string text);
  // How many times a window has read the clipboard we offer; waits until that count passes
  // `count`, false when `timeout` passes first.
  std::uint64_t clipboard_reads() const;
  bool wait_for_clipboard_read(std::uint64_t count, std::chrono::milliseconds timeout);

  struct State;  // defined where the bus's callbacks can reach it

 private:
  explicit MutterSession(std::unique_ptr<State> state);
  std::unique_ptr<State> _state;
};

}  // namespace orvane::pc::gnome
