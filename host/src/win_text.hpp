#pragma once
// UTF-8 inside, UTF-16 at the Win32 call: the conversions, and the system's error texts.
#include <windows.h>

#include <string>
#include <string_view>

namespace orvane::host::win {

// Invalid UTF-8 becomes U+FFFD, as the system's own conversion makes it.
std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);

// The variable's value, UTF-16 as the system keeps it; empty when unset.
std::wstring environment_variable(const wchar_t* name);

// The system's message for a Win32 error code, on one line; `module` holds the messages of its
// own codes (winhttp.dll).
std::string error_text(DWORD error, HMODULE module = nullptr);

}  // namespace orvane::host::win
