// Screen detection and the scaling between API and screen coordinates.
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvane/common/unicode.hpp"
#include "orvane/host/log.hpp"
#include "orvane/pc/deskhand.hpp"
#include "params.hpp"

namespace orvane::pc {
namespace {

constexpr int FALLBACK_WIDTH = 1920;
constexpr int FALLBACK_HEIGHT = 1080;

spdlog::logger& logger() {
  static const auto instance = host::get_logger("orvane.pc.deskhand");
  return *instance;
}

// White-space split of a line, as str.split() does it.
std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::u32string word;
  for (const char32_t c : common::decode_utf8(line)) {
    if (common::is_space(c)) {
      if (!word.empty()) words.push_back(common::encode_utf8(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(common::encode_utf8(word));
  return words;
}

// A decimal integer token as int() reads it: optional sign, digits, single "_" between digits.
int parse_int(const std::string& token) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  long long value = 0;
  bool digits = false;
  bool underscore_ok = false;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    if (c == '_' && underscore_ok && i + 1 < token.size()) {
      underscore_ok = false;
      continue;
    }
    if (c < '0' || c > '9')
      throw std::invalid_argument("invalid literal for int(): '" + token + "'");
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int>::max())
      throw std::out_of_range("integer too large: " + token);
    digits = true;
    underscore_ok = true;
  }
  if (!digits) throw std::invalid_argument("invalid literal for int(): '" + token + "'");
  return static_cast<int>(negative ? -value : value);
}

std::pair<int, int> int_point(double x, double y) {
  const auto fits = [](double v) {
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
  };
  if (!fits(x) || !fits(y)) throw std::out_of_range("coordinate out of range");
  return {static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace

double _get_scale_factor(long long width, long long height) {
  const double long_edge = static_cast<double>(std::max(width, height));
  const double total_pixels = static_cast<double>(width) * static_cast<double>(height);
  if (long_edge == 0 || total_pixels == 0) throw std::domain_error("float division by zero");
  if (total_pixels < 0) throw std::domain_error("math domain error");
  const double long_edge_scale = API_MAX_LONG_EDGE / long_edge;
  const double total_pixels_scale = std::sqrt(API_MAX_TOTAL_PIXELS / total_pixels);
  double scale = 1.0;
  if (long_edge_scale < scale) scale = long_edge_scale;
  if (total_pixels_scale < scale) scale = total_pixels_scale;
  return scale;
}

void DeskhandExecutor::_ensure_initialized() {
  if (_initialized) return;
  try {
    _detect_screen_size();
  } catch (const std::exception& error) {
    logger().warn("Could not detect screen size: {}. Using defaults.", error.what());
    _screen_width = FALLBACK_WIDTH;
    _screen_height = FALLBACK_HEIGHT;
    _compute_scale();
  } catch (...) {
    logger().warn("Could not detect screen size: unknown error. Using defaults.");
    _screen_width = FALLBACK_WIDTH;
    _screen_height = FALLBACK_HEIGHT;
    _compute_scale();
  }
  _initialized = true;
}

void DeskhandExecutor::_detect_screen_size() {
  const std::string system = _platform->system();
  if (system == "Windows") {
    try {
      const auto [width, height] = _platform->windows_screen_metrics();
      _screen_width = width;
      _screen_height = height;
    } catch (const std::exception&) {
      _screen_width = FALLBACK_WIDTH;
      _screen_height = FALLBACK_HEIGHT;
    }
  } else if (system == "Darwin") {
    try {
      host::ProcessOptions options;
      options.timeout_seconds = 5;
      options.capture_output = true;
      const auto result =
          _platform->run_process({"system_profiler", "SPDisplaysDataType"}, options);
      // Lines end at "\n", as text-mode output splits them.
      std::size_t start = 0;
      while (start <= result.output.size()) {
        auto end = result.output.find('\n', start);
        if (end == std::string::npos) end = result.output.size();
        const std::string line = result.output.substr(start, end - start);
        start = end + 1;
        if (line.find("Resolution") == std::string::npos) continue;
        const auto words = split_words(line);
        for (std::size_t i = 1; i + 1 < words.size(); ++i) {
          if (words[i] == "x") {
            _screen_width = parse_int(words[i - 1]);
            _screen_height = parse_int(words[i + 1]);
            break;
          }
        }
        if (_screen_width > 0) break;
      }
      if (_screen_width == 0) {
        _screen_width = FALLBACK_WIDTH;
        _screen_height = FALLBACK_HEIGHT;
      }
    } catch (const std::exception&) {
      _screen_width = FALLBACK_WIDTH;
      _screen_height = FALLBACK_HEIGHT;
    }
  } else {
    try {
      const auto size = _platform->get_screen_size_linux();
      _screen_width = size ? size->first : FALLBACK_WIDTH;
      _screen_height = size ? size->second : FALLBACK_HEIGHT;
    } catch (const std::exception&) {
      _screen_width = FALLBACK_WIDTH;
      _screen_height = FALLBACK_HEIGHT;
    }
  }
  _compute_scale();
}

void DeskhandExecutor::_compute_scale() {
  const double scale = _get_scale_factor(_screen_width, _screen_height);
  // A negative size (from a garbled system report) gives a negative factor whose product need not
  // fit an int.
  const double api_width = std::trunc(_screen_width * scale);
  const double api_height = std::trunc(_screen_height * scale);
  const auto fits = [](double v) {
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
  };
  if (!fits(api_width) || !fits(api_height)) {
    throw std::out_of_range("API size out of range for screen " + std::to_string(_screen_width) +
                            "x" + std::to_string(_screen_height));
  }
  _scale_factor = scale;
  _api_width = static_cast<int>(api_width);
  _api_height = static_cast<int>(api_height);
  logger().info("Screen: {}x{}, API: {}x{}, Scale: {:.3f}", _screen_width, _screen_height,
                _api_width, _api_height, _scale_factor);
}

std::pair<int, int> DeskhandExecutor::_to_screen_coords(double api_x, double api_y) const {
  if (!std::isfinite(api_x) || !std::isfinite(api_y)) {
    throw std::overflow_error("cannot convert float infinity or NaN to integer");
  }
  const double x = std::trunc(api_x);
  const double y = std::trunc(api_y);
  if (_scale_factor >= 1.0) return int_point(x, y);
  double screen_x = std::trunc(x / _scale_factor);
  double screen_y = std::trunc(y / _scale_factor);
  screen_x = std::max(0.0, std::min(screen_x, static_cast<double>(_screen_width - 1)));
  screen_y = std::max(0.0, std::min(screen_y, static_cast<double>(_screen_height - 1)));
  return int_point(screen_x, screen_y);
}

std::pair<int, int> DeskhandExecutor::_to_screen_coords(const Json& api_x,
                                                        const Json& api_y) const {
  for (const Json* value : {&api_x, &api_y}) {
    if (!value->is_number()) {
      throw std::invalid_argument("coordinate values must be numbers, not " +
                                  params::type_name(*value));
    }
  }
  return _to_screen_coords(api_x.get<double>(), api_y.get<double>());
}

std::pair<int, int> DeskhandExecutor::_coordinate_to_screen(const Json& coordinate) const {
  return _to_screen_coords(coordinate[0], coordinate[1]);
}

}  // namespace orvane::pc
