#pragma once
// Local wall-clock minutes as people write them: "YYYY-MM-DD HH:MM".
#include <optional>
#include <string_view>

namespace orvane::app {

// Seconds since the Unix epoch of that local minute; nullopt when the text is not of that form,
// names no real date or time ("2025-02-30 10:00", "24:00"), or is skipped by a clock change.
std::optional<double> parse_local_minute(std::string_view text);

}  // namespace orvane::app
