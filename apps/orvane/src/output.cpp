#include "output.hpp"

#include <iostream>

namespace orvane::app {

void print_json(const Json& value) {
  std::cout << value.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace orvane::app
