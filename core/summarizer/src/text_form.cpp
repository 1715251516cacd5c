#include "text_form.hpp"

#include <string>

#include "orvane/common/py_text.hpp"
#include "orvane/common/unicode.hpp"

namespace orvane::summarizer {

nlohmann::ordered_json parse_json(std::string_view text) {
  return common::parse_json(text, common::OnInvalid::Discard);
}

std::string text_form(const nlohmann::ordered_json& value) {
  switch (value.type()) {
    case nlohmann::ordered_json::value_t::string:
      return value.get_ref<const std::string&>();
    case nlohmann::ordered_json::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case nlohmann::ordered_json::value_t::number_float:
      return common::py_repr(value.get<double>());
    default:
      // Replace rather than throw on bytes that are not UTF-8: the model only reads this.
      return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
}

std::string content_text(const nlohmann::ordered_json& content) {
  if (content.is_null()) return {};
  if (!content.is_array()) return text_form(content);
  std::string text;
  bool first = true;
  for (const auto& block : content) {
    if (!first) text += '\n';
    first = false;
    const bool is_text_block = block.is_object() && block.contains("type") &&
                               block["type"] == "text" && block.contains("text");
    if (is_text_block) {
      text += text_form(block["text"]);
    } else {
      text += text_form(block);
    }
  }
  return text;
}

std::string valid_text(std::string text) {
  if (common::is_valid_utf8(text)) return text;
  return common::replace_invalid_utf8(text);
}

std::string shorten(std::string text, std::size_t limit, std::string_view suffix) {
  text = valid_text(std::move(text));
  if (common::length(text) <= limit) return text;
  std::string cut = common::cut(text, limit);
  cut += suffix;
  return cut;
}

std::string strip(std::string_view text) {
  const std::u32string points = common::decode_utf8(valid_text(std::string(text)));
  std::size_t begin = 0;
  std::size_t end = points.size();
  while (begin < end && common::is_space(points[begin])) ++begin;
  while (end > begin && common::is_space(points[end - 1])) --end;
  return common::encode_utf8(std::u32string_view(points).substr(begin, end - begin));
}

}  // namespace orvane::summarizer
