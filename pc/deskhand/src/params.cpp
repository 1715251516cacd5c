#include "params.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace orvane::pc::params {

std::string type_name(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "NoneType";
    case Json::value_t::boolean:
      return "bool";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "int";
    case Json::value_t::number_float:
      return "float";
    case Json::value_t::string:
      return "str";
    case Json::value_t::array:
      return "list";
    case Json::value_t::object:
      return "dict";
    case Json::value_t::binary:
      return "bytes";
    case Json::value_t::discarded:
      break;
  }
  return "object";
}

Bound::Bound(std::string_view method, const Json& params, std::initializer_list<const char*> names)
    : _params(&params) {
  const std::string qualified = "DeskhandExecutor." + std::string(method) + "()";
  if (!params.is_object()) {
    throw std::invalid_argument(qualified + " argument after ** must be a mapping, not " +
                                type_name(params));
  }
  for (const auto& item : params.items()) {
    bool known = false;
    for (const char* name : names) known = known || item.key() == name;
    if (!known) {
      throw std::invalid_argument(qualified + " got an unexpected keyword argument '" + item.key() +
                                  "'");
    }
  }
}

const Json* Bound::get(const char* name) const {
  const auto found = _params->find(name);
  return found == _params->end() ? nullptr : &*found;
}

const Json* Bound::get_either(const char* name, const char* other_name) const {
  const Json* value = get(name);
  return value != nullptr ? value : get(other_name);
}

bool usable_coordinate(const Json* coordinate) {
  return coordinate != nullptr && coordinate->is_array() && coordinate->size() == 2;
}

std::string text(const Json* value, const char* name) {
  if (value == nullptr) return "";
  if (!value->is_string()) {
    throw std::invalid_argument(std::string(name) + " must be str, not " + type_name(*value));
  }
  return value->get<std::string>();
}

double number(const Json* value, const char* name, double fallback) {
  if (value == nullptr) return fallback;
  if (!value->is_number()) {
    throw std::invalid_argument(std::string(name) + " must be a number, not " + type_name(*value));
  }
  return value->get<double>();
}

int integer(const Json* value, const char* name, int fallback) {
  if (value == nullptr) return fallback;
  if (value->is_number_integer()) {
    // Exact for every integer, however large.
    if (value->is_number_unsigned()) {
      const auto v = value->get<std::uint64_t>();
      if (v <= static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
        return static_cast<int>(v);
    } else {
      const auto v = value->get<std::int64_t>();
      if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()) {
        return static_cast<int>(v);
      }
    }
    throw std::out_of_range(std::string(name) + " out of range: " + value->dump());
  }
  const double truncated = std::trunc(number(value, name, fallback));
  if (std::isnan(truncated)) throw std::invalid_argument("cannot convert float NaN to integer");
  if (std::isinf(truncated)) throw std::overflow_error("cannot convert float infinity to integer");
  if (!(truncated >= std::numeric_limits<int>::min() &&
        truncated <= std::numeric_limits<int>::max())) {
    throw std::out_of_range(std::string(name) + " out of range: " + value->dump());
  }
  return static_cast<int>(truncated);
}

}  // namespace orvane::pc::params
