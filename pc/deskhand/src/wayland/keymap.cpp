#include "wayland/keymap.hpp"

#include <stdexcept>

namespace orvane::pc::wayland {
namespace {

const char* const KEYMAP_START =
    "xkb_keymap {\n"
    "  xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
    "  xkb_types { include \"complete\" };\n"
    "  xkb_compat { include \"complete\" };\n"
    "  xkb_symbols { include \"pc+us+inet(evdev)\"\n";
const char* const KEYMAP_END = "  };\n};\n";

bool key_is_empty(xkb_keymap* keymap, xkb_keycode_t key) {
  const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, key);
  for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, key, layout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      const xkb_keysym_t* syms = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) > 0) return false;
    }
  }
  return true;
}

}  // namespace

Keymap::Keymap() {
  _context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (_context == nullptr) throw std::runtime_error("cannot create an xkbcommon context");
  try {
    _compile();
  } catch (...) {
    xkb_context_unref(_context);
    throw;
  }
  _index();
}

Keymap::Keymap(const std::string& text) {
  _context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (_context == nullptr) throw std::runtime_error("cannot create an xkbcommon context");
  _keymap = xkb_keymap_new_from_string(_context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                       XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (_keymap == nullptr) {
    xkb_context_unref(_context);
    throw std::runtime_error("xkbcommon cannot read the compositor's keymap");
  }
  _text = text;
  _generation = 1;
  _index();
}

void Keymap::_index() {
  _shift_mask = 1u << xkb_keymap_mod_get_index(_keymap, XKB_MOD_NAME_SHIFT);
  const auto shift = find(XKB_KEY_Shift_L);
  if (!shift) throw std::runtime_error("the keymap has no Shift key");
  _shift_keycode = shift->keycode;
  for (xkb_keycode_t key = xkb_keymap_min_keycode(_keymap); key <= xkb_keymap_max_keycode(_keymap);
       ++key) {
    const char* name = xkb_keymap_key_get_name(_keymap, key);
    if (name != nullptr && key_is_empty(_keymap, key)) _spare.emplace_back(key, name);
  }
}

Keymap::~Keymap() {
  xkb_keymap_unref(_keymap);
  xkb_context_unref(_context);
}

void Keymap::_compile() {
  std::string source = KEYMAP_START;
  for (std::size_t i = 0; i < _bound.size(); ++i) {
    char name[64] = {};
    xkb_keysym_get_name(_bound[i], name, sizeof name);
    source += "    key <" + _spare[i].second + "> { [ " + name + " ] };\n";
  }
  source += KEYMAP_END;
  xkb_keymap* keymap = xkb_keymap_new_from_string(
      _context, source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) throw std::runtime_error("xkbcommon cannot compile the US keymap");
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  if (text == nullptr) {
    xkb_keymap_unref(keymap);
    throw std::runtime_error("xkbcommon cannot write the keymap");
  }
  _text = text;
  std::free(text);
  xkb_keymap_unref(_keymap);
  _keymap = keymap;
  ++_generation;
}

std::optional<Keymap::Stroke> Keymap::find(xkb_keysym_t keysym) const {
  for (xkb_keycode_t key = xkb_keymap_min_keycode(_keymap); key <= xkb_keymap_max_keycode(_keymap);
       ++key) {
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(_keymap, key, 0);
    for (xkb_level_index_t level = 0; level < levels && level < 2; ++level) {
      const xkb_keysym_t* syms = nullptr;
      const int count = xkb_keymap_key_get_syms_by_level(_keymap, key, 0, level, &syms);
      if (count != 1 || syms[0] != keysym) continue;
      // Only the plain level and the one Shift alone selects; the rest needs modifiers we do not
      // drive (AltGr, NumLock).
      xkb_mod_mask_t masks[8] = {};
      const std::size_t n = xkb_keymap_key_get_mods_for_level(_keymap, key, 0, level, masks, 8);
      for (std::size_t m = 0; m < n; ++m) {
        if (masks[m] == 0) return Stroke{key, false};
        if (masks[m] == _shift_mask && _shift_mask != 0) return Stroke{key, true};
      }
    }
  }
  return std::nullopt;
}

Keymap::Stroke Keymap::stroke_for(xkb_keysym_t keysym) {
  for (std::size_t i = 0; i < _bound.size(); ++i) {
    if (_bound[i] == keysym) return {_spare[i].first, false};
  }
  if (const auto found = find(keysym)) return *found;
  if (_spare.empty()) throw std::runtime_error("the keymap has no free key to type a keysym on");
  if (_bound.size() == _spare.size()) {
    // The oldest binding moves out; its key takes the newest.
    _bound.erase(_bound.begin());
  }
  _bound.push_back(keysym);
  _compile();
  return {_spare[_bound.size() - 1].first, false};
}

}  // namespace orvane::pc::wayland
