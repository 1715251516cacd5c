#pragma once
// Values in the text form Python's str()/repr() gives them.
#include <cstdint>
#include <string>

namespace orvane::common {

// repr(float): shortest round-trip digits, always with a fraction or an exponent
// ("2.0", "0.1", "1e+16", "1e-05", "inf", "nan").
std::string py_repr(double value);
std::string py_repr(std::int64_t value);
inline std::string py_repr(int value) {
  return py_repr(static_cast<std::int64_t>(value));
}
inline std::string py_repr(bool value) {
  return value ? "True" : "False";
}
inline std::string py_none() {
  return "None";
}

}  // namespace orvane::common
