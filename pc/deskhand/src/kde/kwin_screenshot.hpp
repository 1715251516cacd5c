#pragma once
// One still of a KWin output through KWin's screenshot D-Bus service (org.kde.KWin.ScreenShot2),
// which KWin answers only for programs an installed .desktop file names
// (X-KDE-DBUS-Restricted-Interfaces).
#include <string>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc::kde {

// The output called `output_name` in its pixels, without the cursor. Throws std::runtime_error
// with KWin's reason when it refuses or the session bus cannot be reached.
ScreenCapture kwin_screenshot(const std::string& output_name);

}  // namespace orvane::pc::kde
