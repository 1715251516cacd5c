#include "tour/probe_window.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <thread>

#include "orvane/common/unicode.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

// The character a keysym stands for: Latin-1 keysyms are their code points, and 0x01000000 + U
// is U+U. Zero for keys that are no character (modifiers, function keys).
char32_t keysym_character(KeySym keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff)) {
    return static_cast<char32_t>(keysym);
  }
  if ((keysym & 0xff000000) == 0x01000000) {
    const auto c = static_cast<char32_t>(keysym & 0x00ffffff);
    if (c <= 0x10ffff && (c < 0xd800 || c > 0xdfff)) return c;  // a Unicode scalar value
  }
  return 0;
}

}  // namespace

ProbeWindow::ProbeWindow(int x, int y, int width, int height, unsigned long rgb)
    : _x(x), _y(y), _width(width), _height(height) {
  _display = XOpenDisplay(nullptr);
  if (_display == nullptr) throw CheckFailed("cannot open the X display");
  const int screen = DefaultScreen(_display);
  XColor colour{};
  colour.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 257);
  colour.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 257);
  colour.blue = static_cast<unsigned short>((rgb & 0xff) * 257);
  if (!XAllocColor(_display, DefaultColormap(_display, screen), &colour)) {
    colour.pixel = WhitePixel(_display, screen);
    colour.red = colour.green = colour.blue = 0xffff;
  }
  _colour = {colour.red >> 8, colour.green >> 8, colour.blue >> 8};

  XSetWindowAttributes attributes{};
  // Placed exactly where asked and kept above the others, without a window manager's frame.
  attributes.override_redirect = True;
  attributes.background_pixel = colour.pixel;
  attributes.event_mask = ButtonPressMask | KeyPressMask | StructureNotifyMask;
  _window =
      XCreateWindow(_display, RootWindow(_display, screen), x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XStoreName(_display, _window, "orvane tour");
  _clipboard = XInternAtom(_display, "CLIPBOARD", False);
  _utf8 = XInternAtom(_display, "UTF8_STRING", False);
  _paste_property = XInternAtom(_display, "ORVANE_TOUR_PASTE", False);
  XMapRaised(_display, _window);
  if (!wait_until([this] { return _mapped; }, std::chrono::seconds(3))) {
    XDestroyWindow(_display, _window);
    XCloseDisplay(_display);
    throw CheckFailed("the window was not mapped within 3 s");
  }
}

ProbeWindow::~ProbeWindow() {
  XDestroyWindow(_display, _window);
  XCloseDisplay(_display);
}

std::string ProbeWindow::display_name() const {
  return DisplayString(_display);
}

bool ProbeWindow::wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    XSync(_display, False);
    while (XPending(_display) > 0) {
      XEvent event;
      XNextEvent(_display, &event);
      _handle(event);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ProbeWindow::_handle(XEvent& event) {
  switch (event.type) {
    case MapNotify:
      _mapped = true;
      XSetInputFocus(_display, _window, RevertToParent, CurrentTime);
      break;
    case MappingNotify:
      XRefreshKeyboardMapping(&event.xmapping);
      break;
    case ButtonPress:
      _clicks.push_back({event.xbutton.x_root, event.xbutton.y_root, event.xbutton.button});
      // Click to focus, as there may be no window manager to give it.
      XSetInputFocus(_display, _window, RevertToParent, event.xbutton.time);
      break;
    case KeyPress:
      _key_press(event.xkey);
      break;
    case SelectionNotify:
      _paste_arrived(event.xselection);
      break;
    case SelectionRequest: {
      // The clipboard is only held to end the copying tool; nothing is offered.
      XSelectionEvent refusal{};
      refusal.type = SelectionNotify;
      refusal.requestor = event.xselectionrequest.requestor;
      refusal.selection = event.xselectionrequest.selection;
      refusal.target = event.xselectionrequest.target;
      refusal.property = None;
      refusal.time = event.xselectionrequest.time;
      XEvent reply{};
      reply.xselection = refusal;
      XSendEvent(_display, refusal.requestor, False, NoEventMask, &reply);
      break;
    }
    default:
      break;
  }
}

void ProbeWindow::take_clipboard() {
  XSetSelectionOwner(_display, _clipboard, _window, CurrentTime);
  XSync(_display, False);
}

void ProbeWindow::_key_press(XKeyEvent& event) {
  char bytes[32];
  KeySym keysym = NoSymbol;
  XLookupString(&event, bytes, sizeof bytes, &keysym, nullptr);
  if ((event.state & ControlMask) && (keysym == XK_v || keysym == XK_V)) {
    XConvertSelection(_display, _clipboard, _utf8, _paste_property, _window, event.time);
    return;
  }
  if (event.state & ControlMask) return;
  if (const char32_t c = keysym_character(keysym)) _text += common::encode_utf8(c);
}

void ProbeWindow::_paste_arrived(const XSelectionEvent& event) {
  if (event.property == None) return;  // nobody holds the clipboard, or not as UTF-8
  Atom type = None;
  int format = 0;
  unsigned long count = 0, left = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(_display, _window, _paste_property, 0, 1 << 20, True, AnyPropertyType,
                         &type, &format, &count, &left, &data) == Success &&
      data != nullptr) {
    if (format == 8) {
      _text.append(reinterpret_cast<const char*>(data), count);
      _pasted = true;
    }
    XFree(data);
  }
}

}  // namespace orvane::app::tour
