#include "orvane/common/py_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace orvane::common {

std::string py_repr(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";

  // Shortest round-trip digits and the decimal exponent, then Python's layout rules.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  std::string sign;
  if (sci.front() == '-') {
    sign = "-";
    sci.erase(0, 1);
  }
  const auto e_pos = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + e_pos + 1);
  std::string digits;
  for (std::size_t i = 0; i < e_pos; ++i)
    if (sci[i] != '.') digits += sci[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  const int decpt = exponent + 1;  // position of the decimal point relative to the digits
  const int ndigits = static_cast<int>(digits.size());
  std::string out = sign;
  if (decpt > -4 && decpt <= 16) {
    if (decpt <= 0) {
      out += "0." + std::string(-decpt, '0') + digits;
    } else if (decpt >= ndigits) {
      out += digits + std::string(decpt - ndigits, '0') + ".0";
    } else {
      out += digits.substr(0, decpt) + "." + digits.substr(decpt);
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (ndigits > 1) out += "." + digits.substr(1);
  const int shown = decpt - 1;
  out += shown < 0 ? "e-" : "e+";
  std::string exp_digits = std::to_string(std::abs(shown));
  if (exp_digits.size() < 2) exp_digits.insert(0, "0");
  return out + exp_digits;
}

std::string py_repr(std::int64_t value) {
  return std::to_string(value);
}

}  // namespace orvane::common
