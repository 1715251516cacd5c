#include "orvane/common/json_read.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace orvane::common {
namespace {

using Json = nlohmann::ordered_json;

// A number that JSON cannot spell, and which scalar value of the text (in document order) it is.
struct NonFinite {
  std::size_t index;
  double value;
};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// What ends a bare token (a number, true, false, null) outside strings.
bool ends_token(char c) {
  switch (c) {
    case '{':
    case '}':
    case '[':
    case ']':
    case ':':
    case ',':
    case '"':
      return true;
    default:
      return is_space(c);
  }
}

// `text` with each bare NaN, Infinity and -Infinity replaced by 0, noting in `found` which scalar
// value each one is. Tokens are cut where Python's scanner cuts them, so "NaNa", "-NaN" or
// "nan" stay as they are and fail to parse, as they fail in Python. The count of scalar values
// follows the parser's value events: every bare token, and every string but member names.
std::string replace_non_finite(std::string_view text, std::vector<NonFinite>& found) {
  std::string out;
  out.reserve(text.size());
  std::size_t values = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      std::size_t end = i + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      end = std::min(end + 1, text.size());
      out.append(text.substr(i, end - i));
      i = end;
      std::size_t next = i;
      while (next < text.size() && is_space(text[next])) ++next;
      if (next == text.size() || text[next] != ':') ++values;
      continue;
    }
    if (ends_token(text[i])) {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !ends_token(text[end])) ++end;
    const auto token = text.substr(i, end - i);
    constexpr double INF = std::numeric_limits<double>::infinity();
    if (token == "NaN" || token == "Infinity" || token == "-Infinity") {
      const double value = token == "NaN" ? std::numeric_limits<double>::quiet_NaN()
                                          : (token == "Infinity" ? INF : -INF);
      found.push_back({values, value});
      out += '0';
    } else {
      out.append(token);
    }
    ++values;
    i = end;
  }
  return out;
}

// Builds the value as nlohmann's own parser does, on a stack of the open containers rather than
// by recursion; refuses to open a container deeper than the limit and puts the non-finite numbers
// in their places. (nlohmann's callback parser, the other way to stop at a depth, searches the
// whole enclosing container after every object it ends, which is quadratic in long arrays.)
class ValueBuilder {
 public:
  ValueBuilder(Json& root, bool throws, const std::vector<NonFinite>& non_finite)
      : _root(root), _throws(throws), _non_finite(non_finite), _next(non_finite.begin()) {}

  bool null() { return scalar(nullptr); }
  bool boolean(bool value) { return scalar(value); }
  bool number_integer(Json::number_integer_t value) { return scalar(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return scalar(value); }
  bool number_float(Json::number_float_t value, const Json::string_t&) { return scalar(value); }
  bool string(Json::string_t& value) { return scalar(std::move(value)); }
  bool binary(Json::binary_t& value) { return scalar(std::move(value)); }

  bool start_object(std::size_t) { return open(Json::value_t::object); }
  bool key(Json::string_t& name) {
    _member = &(*_open.back())[std::move(name)];
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Json::value_t::array); }
  bool end_array() { return close(); }

  template <typename Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& error) {
    if (_throws) throw error;
    return false;
  }

 private:
  // Where a new value goes: the root, the end of the open array, or the member just named. Only
  // the innermost open container grows, so the pointers to the outer ones stay valid.
  Json* place(Json value) {
    if (_open.empty()) {
      _root = std::move(value);
      return &_root;
    }
    if (Json& array = *_open.back(); array.is_array()) {
      auto& items = array.get_ref<Json::array_t&>();
      items.push_back(std::move(value));
      return &items.back();
    }
    *_member = std::move(value);
    return _member;
  }

  template <typename Value>
  bool scalar(Value&& value) {
    if (_next != _non_finite.end() && _next->index == _values) {
      place((_next++)->value);
    } else {
      place(Json(std::forward<Value>(value)));
    }
    ++_values;
    return true;
  }

  bool open(Json::value_t kind) {
    if (_open.size() >= std::size_t(MAX_JSON_DEPTH)) {
      throw JsonTooDeep("JSON nested more than " + std::to_string(MAX_JSON_DEPTH) + " levels deep");
    }
    _open.push_back(place(Json(kind)));
    return true;
  }

  bool close() {
    _open.pop_back();
    return true;
  }

  Json& _root;
  const bool _throws;
  const std::vector<NonFinite>& _non_finite;
  std::vector<NonFinite>::const_iterator _next;
  std::size_t _values = 0;  // scalar values so far, in document order
  std::vector<Json*> _open;
  Json* _member = nullptr;
};

Json parse(std::string_view text, OnInvalid on_invalid, const std::vector<NonFinite>& non_finite) {
  Json value;
  ValueBuilder builder(value, on_invalid == OnInvalid::Throw, non_finite);
  if (!Json::sax_parse(text, &builder)) return Json(Json::value_t::discarded);
  return value;
}

}  // namespace

Json parse_json(std::string_view text, OnInvalid on_invalid) {
  return parse(text, on_invalid, {});
}

Json parse_python_json(std::string_view text) {
  if (text.find("NaN") == std::string_view::npos &&
      text.find("Infinity") == std::string_view::npos) {
    return parse_json(text);
  }
  std::vector<NonFinite> found;
  const auto replaced = replace_non_finite(text, found);
  return parse(replaced, OnInvalid::Throw, found);
}

bool nests_deeper_than(const Json& value, int limit) {
  std::vector<std::pair<const Json*, int>> open{{&value, 1}};
  while (!open.empty()) {
    const auto [container, depth] = open.back();
    open.pop_back();
    if (!container->is_structured()) continue;
    if (depth > limit) return true;
    for (const auto& item : *container) {
      if (item.is_structured()) open.emplace_back(&item, depth + 1);
    }
  }
  return false;
}

}  // namespace orvane::common
