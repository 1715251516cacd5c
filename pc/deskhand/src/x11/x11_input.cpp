#include "x11/x11_input.hpp"
#include "pointer_path.hpp"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "orvane/common/unicode.hpp"
#include "x11/keysyms.hpp"

namespace orvane::pc::x11 {
namespace {

// Xlib's default error handler ends the process; ours records errors on our displays instead and
// leaves other displays to the handler that was there before.
std::mutex error_mutex;
std::map<Display*, int> error_codes;
XErrorHandler previous_handler = nullptr;

int record_error(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(error_mutex);
    const auto found = error_codes.find(display);
    if (found != error_codes.end()) {
      if (found->second == 0) found->second = event->error_code;
      return 0;
    }
  }
  return previous_handler ? previous_handler(display, event) : 0;
}

// A lost connection of ours is left to the display's exit handler; the default handler would
// end the process.
XIOErrorHandler previous_io_handler = nullptr;

int note_io_error(Display* display) {
  {
    std::lock_guard lock(error_mutex);
    if (error_codes.count(display)) return 0;
  }
  return previous_io_handler ? previous_io_handler(display) : 0;
}

void watch_errors(Display* display) {
  std::lock_guard lock(error_mutex);
  if (error_codes.empty()) {
    previous_handler = XSetErrorHandler(record_error);
    previous_io_handler = XSetIOErrorHandler(note_io_error);
  }
  error_codes[display] = 0;
}

void unwatch_errors(Display* display) {
  std::lock_guard lock(error_mutex);
  error_codes.erase(display);
  if (error_codes.empty()) {
    XSetErrorHandler(previous_handler);
    XSetIOErrorHandler(previous_io_handler);
  }
}

// The first X error since the last call, or 0.
int take_error(Display* display) {
  std::lock_guard lock(error_mutex);
  return std::exchange(error_codes[display], 0);
}

std::string error_text(Display* display, int code) {
  char text[256] = {};
  XGetErrorText(display, code, text, sizeof text);
  return text;
}

// X carries pointer coordinates as 16-bit values: a point farther off would wrap around to the
// other side of the screen instead of stopping at its edge, as the server does for points in range.
int motion_coordinate(int value) {
  return std::clamp(value, -32768, 32767);
}

int magnitude(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                  : std::abs(value);
}

void sleep_seconds(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Bit position and width of a colour mask.
struct Channel {
  int shift = 0;
  int bits = 0;
  explicit Channel(unsigned long mask) {
    if (mask == 0) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++bits;
    }
  }
  std::uint8_t value(unsigned long pixel) const {
    if (bits == 0) return 0;
    const unsigned long v = (pixel >> shift) & ((1ul << bits) - 1);
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    return static_cast<std::uint8_t>((v * 255 + ((1ul << bits) - 1) / 2) / ((1ul << bits) - 1));
  }
};

ScreenCapture to_rgb(XImage* image) {
  ScreenCapture capture;
  capture.width = image->width;
  capture.height = image->height;
  capture.rgb.resize(static_cast<std::size_t>(image->width) * image->height * 3);
  std::uint8_t* out = capture.rgb.data();
  if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
      image->green_mask == 0xff00 && image->blue_mask == 0xff) {
    // The usual 24-bit TrueColor layout: bytes B, G, R, pad.
    for (int y = 0; y < image->height; ++y) {
      const auto* row = reinterpret_cast<const std::uint8_t*>(image->data) +
                        static_cast<std::size_t>(y) * image->bytes_per_line;
      for (int x = 0; x < image->width; ++x, row += 4, out += 3) {
        out[0] = row[2];
        out[1] = row[1];
        out[2] = row[0];
      }
    }
    return capture;
  }
  const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x, out += 3) {
      const unsigned long pixel = XGetPixel(image, x, y);
      out[0] = red.value(pixel);
      out[1] = green.value(pixel);
      out[2] = blue.value(pixel);
    }
  }
  return capture;
}

}  // namespace

std::unique_ptr<X11Input> X11Input::open(const char* display_name) {
  Display* display = XOpenDisplay(display_name);
  if (display == nullptr) {
    const char* name = display_name ? display_name : std::getenv("DISPLAY");
    throw std::runtime_error(std::string("cannot open X display ") +
                             (name ? name : "(DISPLAY not set)"));
  }
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
    XCloseDisplay(display);
    throw std::runtime_error("the X display has no XTEST extension");
  }
  return std::unique_ptr<X11Input>(new X11Input(display));
}

X11Input::X11Input(Display* display)
    : _display(display), _screen(DefaultScreen(display)), _root(RootWindow(display, _screen)) {
  watch_errors(_display);
  // Without this, Xlib ends the whole process when the server goes away.
  XSetIOErrorExitHandler(_display, _on_connection_lost, this);
  XTestGrabControl(_display, True);  // our events pass through other clients' server grabs
  _shift_keycode = XKeysymToKeycode(_display, XK_Shift_L);

  int min_keycode = 0, max_keycode = 0, per_keycode = 0;
  XDisplayKeycodes(_display, &min_keycode, &max_keycode);
  KeySym* map = XGetKeyboardMapping(_display, static_cast<KeyCode>(min_keycode),
                                    max_keycode - min_keycode + 1, &per_keycode);
  if (map != nullptr) {
    for (int code = min_keycode; code <= max_keycode; ++code) {
      const KeySym* syms = map + static_cast<std::size_t>(code - min_keycode) * per_keycode;
      if (std::all_of(syms, syms + per_keycode, [](KeySym s) { return s == NoSymbol; })) {
        _spare_keycodes.push_back(static_cast<KeyCode>(code));
      }
    }
    XFree(map);
  }
}

X11Input::~X11Input() {
  _release_shm();
  if (!_lost) {
    for (const auto& [keycode, keysym] : _bound) {
      KeySym none[2] = {NoSymbol, NoSymbol};
      XChangeKeyboardMapping(_display, keycode, 2, none, 1);
    }
    XSync(_display, False);
  }
  unwatch_errors(_display);
  XCloseDisplay(_display);
}

void X11Input::_on_connection_lost(Display*, void* self) {
  static_cast<X11Input*>(self)->_lost = true;
}

void X11Input::_check_connection() const {
  if (_lost) throw std::runtime_error("the connection to the X display was lost");
}

void X11Input::_sync() {
  XSync(_display, False);
  _check_connection();
  if (const int code = take_error(_display)) {
    throw std::runtime_error("X error: " + error_text(_display, code));
  }
}

// ---- pointer ----

void X11Input::moveTo(int x, int y, double duration) {
  x = motion_coordinate(x);
  y = motion_coordinate(y);
  walk_pointer(position(), {x, y}, duration, [&](int px, int py, bool last) {
    XTestFakeMotionEvent(_display, _screen, px, py, CurrentTime);
    if (last) {
      _sync();
    } else {
      XFlush(_display);
    }
  });
}

void X11Input::_button(unsigned button, bool down) {
  XTestFakeButtonEvent(_display, button, down ? True : False, CurrentTime);
}

void X11Input::_click_button(int x, int y, unsigned button, int clicks) {
  moveTo(x, y, 0);
  for (int i = 0; i < clicks; ++i) {
    _button(button, true);
    _button(button, false);
  }
  _sync();
}

void X11Input::click(int x, int y, int clicks) {
  _click_button(x, y, Button1, clicks);
}
void X11Input::rightClick(int x, int y) {
  _click_button(x, y, Button3, 1);
}
void X11Input::middleClick(int x, int y) {
  _click_button(x, y, Button2, 1);
}
void X11Input::doubleClick(int x, int y) {
  _click_button(x, y, Button1, 2);
}

void X11Input::mouseDown() {
  _button(Button1, true);
  _sync();
}

void X11Input::mouseUp() {
  _button(Button1, false);
  _sync();
}

void X11Input::_wheel(unsigned button, int clicks) {
  for (int i = 0; i < clicks; ++i) {
    _button(button, true);
    _button(button, false);
    if (i % 64 == 63) XFlush(_display);
  }
  _sync();
}

// Buttons 4/5 turn the vertical wheel up/down, 6/7 the horizontal one left/right.
void X11Input::scroll(int clicks) {
  _wheel(clicks > 0 ? 4 : 5, magnitude(clicks));
}
void X11Input::hscroll(int clicks) {
  _wheel(clicks > 0 ? 7 : 6, magnitude(clicks));
}

std::pair<int, int> X11Input::position() {
  Window root = 0, child = 0;
  int root_x = 0, root_y = 0, win_x = 0, win_y = 0;
  unsigned mask = 0;
  _check_connection();
  const Bool on_screen =
      XQueryPointer(_display, _root, &root, &child, &root_x, &root_y, &win_x, &win_y, &mask);
  _check_connection();
  if (!on_screen) throw std::runtime_error("the pointer is on another screen");
  return {root_x, root_y};
}

// ---- keys ----

KeyCode X11Input::_bind_spare_keycode(KeySym keysym) {
  for (const auto& [keycode, bound] : _bound) {
    if (bound == keysym) return keycode;
  }
  KeyCode keycode = 0;
  if (_bound.size() < _spare_keycodes.size()) {
    keycode = _spare_keycodes[_bound.size()];
  } else if (!_bound.empty()) {
    keycode = _bound.front().first;  // the least recently bound
    _bound.erase(_bound.begin());
  } else {
    throw std::runtime_error("no free keycode to type keysym " + std::to_string(keysym));
  }
  KeySym syms[2] = {keysym, keysym};
  XChangeKeyboardMapping(_display, keycode, 2, syms, 1);
  _sync();
  _bound.emplace_back(keycode, keysym);
  return keycode;
}

X11Input::Stroke X11Input::_stroke_for_keysym(KeySym keysym) {
  for (const auto& [keycode, bound] : _bound) {
    if (bound == keysym) return {keycode, false};
  }
  const KeyCode keycode = XKeysymToKeycode(_display, keysym);
  if (keycode != 0) {
    int per_keycode = 0;
    KeySym* syms = XGetKeyboardMapping(_display, keycode, 1, &per_keycode);
    std::optional<Stroke> stroke;
    if (syms != nullptr && per_keycode > 0) {
      KeySym lower = NoSymbol, upper = NoSymbol;
      XConvertCase(syms[0], &lower, &upper);
      if (syms[0] == keysym) {
        stroke = Stroke{keycode, false};
      } else if (per_keycode > 1 &&
                 (syms[1] == keysym || (syms[1] == NoSymbol && upper == keysym))) {
        stroke = Stroke{keycode, true};
      }
    }
    if (syms != nullptr) XFree(syms);
    if (stroke) return *stroke;
  }
  // Not in the keymap, or only behind a modifier we do not drive (AltGr levels).
  return {_bind_spare_keycode(keysym), false};
}

std::optional<X11Input::Stroke> X11Input::_stroke_for_name(const std::string& name) {
  // A name no key has is ignored, silently, as the input automation's contract has it.
  const auto keysym = keysym_for_name(name);
  if (!keysym) return std::nullopt;
  return _stroke_for_keysym(*keysym);
}

void X11Input::_send_key(const Stroke& stroke, bool down) {
  if (stroke.shift && down && _shift_keycode)
    XTestFakeKeyEvent(_display, _shift_keycode, True, CurrentTime);
  XTestFakeKeyEvent(_display, stroke.keycode, down ? True : False, CurrentTime);
  if (stroke.shift && !down && _shift_keycode)
    XTestFakeKeyEvent(_display, _shift_keycode, False, CurrentTime);
}

void X11Input::press(const std::string& key) {
  const auto stroke = _stroke_for_name(key);
  if (!stroke) return;
  _send_key(*stroke, true);
  _send_key(*stroke, false);
  _sync();
}

void X11Input::hotkey(const std::vector<std::string>& keys) {
  std::vector<Stroke> strokes;
  for (const auto& key : keys) {
    if (auto stroke = _stroke_for_name(key)) strokes.push_back(*stroke);
  }
  for (const auto& stroke : strokes) _send_key(stroke, true);
  for (auto it = strokes.rbegin(); it != strokes.rend(); ++it) _send_key(*it, false);
  _sync();
}

void X11Input::keyDown(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_key(*stroke, true);
    _sync();
  }
}

void X11Input::keyUp(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_key(*stroke, false);
    _sync();
  }
}

void X11Input::write(const std::string& text, double interval) {
  const std::u32string chars = common::decode_utf8(text);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const Stroke stroke = _stroke_for_keysym(keysym_for_char(chars[i]));
    _send_key(stroke, true);
    _send_key(stroke, false);
    _sync();
    if (i + 1 < chars.size()) sleep_seconds(interval);
  }
}

// ---- capture ----

struct X11Input::ShmBuffer {
  XShmSegmentInfo info{};
  XImage* image = nullptr;
};

bool X11Input::_attach_shm(int width, int height) {
  auto buffer = std::make_unique<ShmBuffer>();
  buffer->info.shmid = -1;
  buffer->info.shmaddr = reinterpret_cast<char*>(-1);
  buffer->image =
      XShmCreateImage(_display, DefaultVisual(_display, _screen), DefaultDepth(_display, _screen),
                      ZPixmap, nullptr, &buffer->info, width, height);
  if (buffer->image == nullptr) return false;
  const auto release = [&] {
    if (buffer->info.shmaddr != reinterpret_cast<char*>(-1)) shmdt(buffer->info.shmaddr);
    buffer->image->data = nullptr;
    XDestroyImage(buffer->image);
  };
  buffer->info.shmid =
      shmget(IPC_PRIVATE, static_cast<std::size_t>(buffer->image->bytes_per_line) * height,
             IPC_CREAT | 0600);
  if (buffer->info.shmid < 0) {
    release();
    return false;
  }
  buffer->info.shmaddr = static_cast<char*>(shmat(buffer->info.shmid, nullptr, 0));
  buffer->image->data = buffer->info.shmaddr;
  buffer->info.readOnly = False;
  const bool attached =
      buffer->info.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(_display, &buffer->info);
  XSync(_display, False);
  // The segment goes away with its last user, even if we never get to detach it.
  shmctl(buffer->info.shmid, IPC_RMID, nullptr);
  if (take_error(_display) != 0 || !attached || _lost) {
    _shm_usable = false;  // a server on another machine cannot share our memory
    release();
    return false;
  }
  _shm = std::move(buffer);
  return true;
}

void X11Input::_release_shm() {
  if (!_shm) return;
  if (!_lost) {
    XShmDetach(_display, &_shm->info);
    XSync(_display, False);
    take_error(_display);
  }
  _shm->image->data = nullptr;
  XDestroyImage(_shm->image);
  shmdt(_shm->info.shmaddr);
  _shm.reset();
}

bool X11Input::_capture_shm(ScreenCapture& capture) {
  if (!_shm_checked) {
    _shm_checked = true;
    _shm_usable = XShmQueryExtension(_display);
  }
  if (!_shm_usable) return false;
  const int width = DisplayWidth(_display, _screen);
  const int height = DisplayHeight(_display, _screen);
  if (_shm && (_shm->image->width != width || _shm->image->height != height)) _release_shm();
  if (!_shm && !_attach_shm(width, height)) return false;
  const bool ok = XShmGetImage(_display, _root, _shm->image, 0, 0, AllPlanes);
  XSync(_display, False);
  if (!ok || take_error(_display) != 0 || _lost) {
    _release_shm();
    return false;
  }
  capture = to_rgb(_shm->image);
  return true;
}

ScreenCapture X11Input::screenshot() {
  _check_connection();
  if (ScreenCapture capture; _capture_shm(capture)) return capture;
  XImage* image = XGetImage(_display, _root, 0, 0, DisplayWidth(_display, _screen),
                            DisplayHeight(_display, _screen), AllPlanes, ZPixmap);
  XSync(_display, False);
  if (_lost && image != nullptr) XDestroyImage(image);
  _check_connection();
  if (const int code = take_error(_display); code != 0 || image == nullptr) {
    if (image != nullptr) XDestroyImage(image);
    throw std::runtime_error("XGetImage failed: " + error_text(_display, code));
  }
  ScreenCapture capture = to_rgb(image);
  XDestroyImage(image);
  return capture;
}

}  // namespace orvane::pc::x11
