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

// nlohmann's parser builds the value with its own stack, not by recursion; the callback stops it
// at the depth limit and puts the non-finite numbers in their places.
Json parse(std::string_view text, OnInvalid on_invalid, const std::vector<NonFinite>& non_finite) {
  std::size_t values = 0;
  auto next = non_finite.begin();
  const auto callback = [&](int depth, Json::parse_event_t event, Json& parsed) {
    const bool starts =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (starts && depth >= MAX_JSON_DEPTH) {
      throw JsonTooDeep("JSON nested more than " + std::to_string(MAX_JSON_DEPTH) + " levels deep");
    }
    if (event == Json::parse_event_t::value) {
      if (next != non_finite.end() && next->index == values) parsed = (next++)->value;
      ++values;
    }
    return true;
  };
  return Json::parse(text, callback, on_invalid == OnInvalid::Throw);
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
