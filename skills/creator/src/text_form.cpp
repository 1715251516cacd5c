#include "text_form.hpp"

#include "orvane/common/json_read.hpp"
#include "orvane/common/json_text.hpp"
#include "orvane/common/py_text.hpp"
#include "orvane/skills/skill.hpp"

namespace orvane::skills {

using json = nlohmann::ordered_json;

std::string text_form(const json& value) {
  switch (value.type()) {
    case json::value_t::string:
      return value.get_ref<const std::string&>();
    case json::value_t::boolean:
      return common::py_repr(value.get<bool>());
    case json::value_t::null:
      return common::py_none();
    case json::value_t::number_integer:
      return common::py_repr(value.get<std::int64_t>());
    case json::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case json::value_t::number_float:
      return common::py_repr(value.get<double>());
    default:
      if (common::nests_deeper_than(value)) {
        throw SkillDataError("a value is nested more than " +
                             std::to_string(common::MAX_JSON_DEPTH) + " levels deep");
      }
      return common::dump_python_json(value, std::nullopt);
  }
}

std::string kind_name(const json& value) {
  switch (value.type()) {
    case json::value_t::string:
      return "text";
    case json::value_t::array:
      return "list";
    case json::value_t::object:
      return "object";
    case json::value_t::boolean:
      return "boolean";
    case json::value_t::null:
      return "null";
    default:
      return "number";
  }
}

}  // namespace orvane::skills
