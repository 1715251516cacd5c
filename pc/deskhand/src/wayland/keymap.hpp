#pragma once
// The keymap a virtual keyboard sends with: the US layout, plus the keysyms it lacks bound one by
// one to keys the layout leaves empty, the way Wayland typing tools reach any character.
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvane::pc::wayland {

class Keymap {
 public:
  // A key to send: its xkb keycode, and whether Shift must be held for the wanted keysym.
  struct Stroke {
    xkb_keycode_t keycode = 0;
    bool shift = false;
  };

  // Throws std::runtime_error when xkbcommon cannot compile the layout (no xkb data installed).
  Keymap();
  // A compositor's own keymap, in the text form it sends; throws when xkbcommon cannot read it.
  explicit Keymap(const std::string& text);
  ~Keymap();
  Keymap(const Keymap&) = delete;
  Keymap& operator=(const Keymap&) = delete;

  // The key that types `keysym`; binds the keysym to a spare key (changing the keymap) when no
  // key carries it at a level reached with Shift or nothing.
  Stroke stroke_for(xkb_keysym_t keysym);
  // The key that types `keysym` with Shift or nothing, without changing the keymap.
  std::optional<Stroke> find(xkb_keysym_t keysym) const;
  xkb_keycode_t shift_keycode() const { return _shift_keycode; }

  xkb_keymap* keymap() const { return _keymap; }
  // The compiled keymap in the text form a compositor reads, without includes.
  const std::string& text() const { return _text; }
  // Counts the changes of the keymap, so that a sender knows when to send it again.
  unsigned generation() const { return _generation; }

 private:
  void _compile();
  void _index();

  xkb_context* _context = nullptr;
  xkb_keymap* _keymap = nullptr;
  std::string _text;
  unsigned _generation = 0;
  xkb_keycode_t _shift_keycode = 0;
  xkb_mod_mask_t _shift_mask = 0;
  // Keys without any symbol in the layout, with their names, lowest keycode first.
  std::vector<std::pair<xkb_keycode_t, std::string>> _spare;
  // Keysyms bound to spare keys, oldest first; the i-th sits on _spare[i], until all spare keys
  // are taken and the oldest binding makes room.
  std::vector<xkb_keysym_t> _bound;
};

}  // namespace orvane::pc::wayland
