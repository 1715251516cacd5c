#pragma once
// The character properties behind unicode.hpp come from tables made at build time from the
// Unicode Character Database; this is their one helper that is not public.

namespace orvane::common {

// The simple lower-case mapping of `c` (itself when it has none).
char32_t simple_lower(char32_t c);

}  // namespace orvane::common
