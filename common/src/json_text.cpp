#include "orvane/common/json_text.hpp"

#include <cmath>
#include <stdexcept>

#include "orvane/common/py_text.hpp"
#include "orvane/common/unicode.hpp"

namespace orvane::common {
namespace {

void append_u_escape(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xf];
}

void append_string(std::string& out, const std::string& text) {
  out += '"';
  for (char32_t c : decode_utf8(text)) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || (c > 0x7e && c < 0x10000)) {
          append_u_escape(out, static_cast<unsigned>(c));
        } else if (c >= 0x10000) {
          const char32_t v = c - 0x10000;
          append_u_escape(out, 0xd800 + (v >> 10));
          append_u_escape(out, 0xdc00 + (v & 0x3ff));
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void append_float(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
  } else if (std::isinf(v)) {
    out += v > 0 ? "Infinity" : "-Infinity";
  } else {
    out += py_repr(v);
  }
}

void append_value(std::string& out, const nlohmann::ordered_json& v, std::optional<int> indent,
                  int level) {
  using value_t = nlohmann::ordered_json::value_t;
  const auto newline = [&](int depth) {
    out += '\n';
    out.append(static_cast<std::size_t>(*indent) * depth, ' ');
  };
  switch (v.type()) {
    case value_t::null:
      out += "null";
      break;
    case value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      break;
    case value_t::number_integer:
      out += std::to_string(v.get<std::int64_t>());
      break;
    case value_t::number_unsigned:
      out += std::to_string(v.get<std::uint64_t>());
      break;
    case value_t::number_float:
      append_float(out, v.get<double>());
      break;
    case value_t::string:
      append_string(out, v.get_ref<const std::string&>());
      break;
    case value_t::array:
    case value_t::object: {
      const bool is_object = v.is_object();
      if (v.empty()) {
        out += is_object ? "{}" : "[]";
        break;
      }
      out += is_object ? '{' : '[';
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out += indent ? "," : ", ";
        first = false;
        if (indent) newline(level + 1);
        if (is_object) {
          append_string(out, it.key());
          out += ": ";
        }
        append_value(out, *it, indent, level + 1);
      }
      if (indent) newline(level);
      out += is_object ? '}' : ']';
      break;
    }
    case value_t::binary:
      throw std::invalid_argument("binary values have no JSON text");
    case value_t::discarded:
      throw std::invalid_argument("discarded value has no JSON text");
  }
}

}  // namespace

std::string dump_python_json(const nlohmann::ordered_json& value, std::optional<int> indent) {
  std::string out;
  append_value(out, value, indent, 0);
  return out;
}

}  // namespace orvane::common
