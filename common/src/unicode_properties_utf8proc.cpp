#include <utf8proc.h>

#include "orvane/common/unicode.hpp"
#include "unicode_case.hpp"

namespace orvane::common {
namespace {

utf8proc_category_t category(char32_t c) {
  return utf8proc_category(static_cast<utf8proc_int32_t>(c));
}

}  // namespace

bool is_alpha(char32_t c) {
  switch (category(c)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
      return true;
    default:
      return false;
  }
}

bool is_numeric(char32_t c) {
  switch (category(c)) {
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

bool is_space(char32_t c) {
  if (category(c) == UTF8PROC_CATEGORY_ZS) return true;
  const auto* prop = utf8proc_get_property(static_cast<utf8proc_int32_t>(c));
  switch (prop->bidi_class) {
    case UTF8PROC_BIDI_CLASS_B:
    case UTF8PROC_BIDI_CLASS_S:
    case UTF8PROC_BIDI_CLASS_WS:
      return true;
    default:
      return false;
  }
}

char32_t simple_lower(char32_t c) {
  return static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
}

}  // namespace orvane::common
