// Any JSON document written in Python's form must parse back to the same value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "orvane/common/json_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return 0;
  std::string written;
  try {
    written = orvane::common::dump_python_json(value);
  } catch (const std::invalid_argument&) {
    return 0;  // text that is not valid UTF-8 is refused, never written
  }
  const auto back = nlohmann::ordered_json::parse(written);
  if (back != value && !(value.is_number_float() || back.is_number_float())) __builtin_trap();
  if (orvane::common::dump_python_json(back) != written) __builtin_trap();
  for (unsigned char c : written)
    if (c >= 0x80) __builtin_trap();  // ensure_ascii
  return 0;
}
