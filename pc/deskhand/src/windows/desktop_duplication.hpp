#pragma once
// The primary screen through DXGI Desktop Duplication: the frame the compositor shows, including
// windows drawn with Direct3D that a GDI copy may miss. Direct3D is loaded on first use only.
#include <memory>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc::windows {

class DesktopDuplication {
 public:
  // Throws std::runtime_error naming the step that failed (no Direct3D 11, an output that
  // cannot be duplicated, ...).
  static std::unique_ptr<DesktopDuplication> open();
  ~DesktopDuplication();
  DesktopDuplication(const DesktopDuplication&) = delete;
  DesktopDuplication& operator=(const DesktopDuplication&) = delete;

  // The screen as last presented; throws once the duplication is lost (a desktop switch, a new
  // display mode), after which a new one is needed.
  ScreenCapture capture();

 private:
  struct Parts;
  explicit DesktopDuplication(std::unique_ptr<Parts> parts);
  std::unique_ptr<Parts> _parts;
};

}  // namespace orvane::pc::windows
