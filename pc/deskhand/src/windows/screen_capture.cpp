// The screenshot: Desktop Duplication while it works, else a GDI copy of the screen.
#include <stdexcept>

#include "windows/desktop_duplication.hpp"
#include "windows/windows_input.hpp"

namespace orvane::pc::windows {
namespace {

// The primary screen copied from the screen's device context; CAPTUREBLT takes in layered
// (translucent) windows too.
ScreenCapture capture_gdi() {
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  const HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) throw std::runtime_error("GetDC of the screen failed");
  const HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // rows top down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap =
      memory ? ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  const HGDIOBJ previous = bitmap ? ::SelectObject(memory, bitmap) : nullptr;
  const bool copied =
      bitmap && ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
  ::GdiFlush();

  ScreenCapture capture;
  if (copied) {
    capture.width = width;
    capture.height = height;
    capture.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    const auto* in = static_cast<const std::uint8_t*>(bits);
    std::uint8_t* out = capture.rgb.data();
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      in += 4;
      out += 3;
    }
  }
  const DWORD error = ::GetLastError();
  if (previous) ::SelectObject(memory, previous);
  if (bitmap) ::DeleteObject(bitmap);
  if (memory) ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (!copied) {
    throw std::runtime_error("copying the screen failed (error " + std::to_string(error) + ")");
  }
  return capture;
}

}  // namespace

ScreenCapture WindowsInput::screenshot() {
  if (!_duplication_failure) {
    try {
      if (_duplication) {
        try {
          return _duplication->capture();
        } catch (const std::exception&) {
          _duplication.reset();  // lost to a desktop switch or a new mode: a new one may do
        }
      }
      _duplication = DesktopDuplication::open();
      return _duplication->capture();
    } catch (const std::exception& e) {
      // Remembered: opening Direct3D again for every shot would only fail again, slowly.
      _duplication.reset();
      _duplication_failure = e.what();
    }
  }
  return capture_gdi();
}

std::string WindowsInput::capture_method() const {
  if (_duplication_failure) return "GDI (Desktop Duplication: " + *_duplication_failure + ")";
  return _duplication ? "Desktop Duplication" : "none yet";
}

}  // namespace orvane::pc::windows
