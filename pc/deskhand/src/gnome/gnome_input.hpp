#pragma once
// Input automation and screen capture on GNOME (Mutter) through its remote-desktop session and
// a screen cast of the primary monitor. Points are the screen cast's pixels, which are the
// monitor's pixels whatever its scale, so pointer, capture and screen size agree.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gnome/mutter_session.hpp"
#include "orvane/pc/desktop.hpp"

namespace orvane::pc::pipewire {
class StreamCapture;
}

namespace orvane::pc::gnome {

class GnomeInput final : public InputAutomation {
 public:
  // Throws MutterUnavailable when the session bus has no Mutter to drive.
  static std::unique_ptr<GnomeInput> open();
  ~GnomeInput() override;
  GnomeInput(const GnomeInput&) = delete;
  GnomeInput& operator=(const GnomeInput&) = delete;

  // True once Mutter ended the session or its screen cast: a new one is needed.
  bool lost() const { return _cast_ended || _session->lost(); }
  std::pair<int, int> screen_size() const { return _session->size(); }
  // The session's clipboard: what a paste in any window receives from now on.
  void copy(const std::string& text) { _session->set_clipboard(text); }

  void click(int x, int y, int clicks = 1) override;
  void rightClick(int x, int y) override;
  void middleClick(int x, int y) override;
  void doubleClick(int x, int y) override;
  void moveTo(int x, int y, double duration) override;
  void mouseDown() override;
  void mouseUp() override;
  void press(const std::string& key) override;
  void hotkey(const std::vector<std::string>& keys) override;
  void keyDown(const std::string& key) override;
  void keyUp(const std::string& key) override;
  // Characters Mutter's keymap may lack (all but printable ASCII, newline and tab) are pasted
  // through the session's clipboard, a run of them at a time: Mutter drops keysyms it has no
  // key for.
  void write(const std::string& text, double interval) override;
  void scroll(int clicks) override;
  void hscroll(int clicks) override;
  // Where this process last put the pointer; Mutter does not tell where it is otherwise.
  std::pair<int, int> position() override;
  ScreenCapture screenshot() override;

 private:
  explicit GnomeInput(std::unique_ptr<MutterSession> session);
  void _motion(int x, int y);
  void _click(int x, int y, int button, int clicks);
  void _key(std::uint32_t keysym, bool down);
  void _paste(const std::u32string& text);

  std::unique_ptr<MutterSession> _session;
  std::unique_ptr<pipewire::StreamCapture> _capture;
  std::optional<std::pair<int, int>> _position;
  bool _cast_ended = false;
};

}  // namespace orvane::pc::gnome
