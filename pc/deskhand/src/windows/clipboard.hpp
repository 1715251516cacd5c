#pragma once
// The Windows clipboard, as Unicode text.
#include "orvane/pc/desktop.hpp"

namespace orvane::pc::windows {

class WindowsClipboard final : public Clipboard {
 public:
  // Waits up to about a second while another program has the clipboard open, then throws.
  void copy(const std::string& text) override;
};

}  // namespace orvane::pc::windows
