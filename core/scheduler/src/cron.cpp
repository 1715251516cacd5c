#include "orvane/scheduler/cron.hpp"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <vector>

#include "orvane/host/clock.hpp"

namespace orvane::scheduler {
namespace {

constexpr std::string_view SPACE = " \t\n\r\f\v";

std::string_view strip(std::string_view text) {
  const auto begin = text.find_first_not_of(SPACE);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(SPACE) - begin + 1);
}

// A decimal integer with an optional sign. More than 18 digits is refused so that all the
// arithmetic below stays exact in 64 bits.
std::int64_t parse_int(std::string_view text, std::string_view piece) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.size() > 18 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw InvalidValueError("Invalid number '" + std::string(text) + "' in cron field '" +
                            std::string(piece) + "'");
  }
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return negative ? -value : value;
}

template <typename Mask>
Mask to_mask(const std::set<int>& values) {
  Mask mask = 0;
  for (int v : values) mask |= Mask{1} << v;
  return mask;
}

bool leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : DAYS[month - 1];
}

}  // namespace

CronExpression::CronExpression(std::string_view expression) : _expr(strip(expression)) {
  std::vector<std::string_view> fields;
  for (std::size_t pos = 0;;) {
    pos = _expr.find_first_not_of(SPACE, pos);
    if (pos == std::string::npos) break;
    const auto end = std::min(_expr.find_first_of(SPACE, pos), _expr.size());
    fields.push_back(std::string_view(_expr).substr(pos, end - pos));
    pos = end;
  }
  if (fields.size() != 5) {
    throw InvalidValueError("Cron expression must have 5 fields (min hour dom month dow), got " +
                            std::to_string(fields.size()) + ": '" + _expr + "'");
  }
  _minute = to_mask<std::uint64_t>(_parse_field(fields[0], 0, 59));
  _hour = to_mask<std::uint32_t>(_parse_field(fields[1], 0, 23));
  _dom = to_mask<std::uint32_t>(_parse_field(fields[2], 1, 31));
  _month = to_mask<std::uint16_t>(_parse_field(fields[3], 1, 12));
  _dow = to_mask<std::uint8_t>(_parse_field(fields[4], 0, 6));
}

std::set<int> CronExpression::_parse_field(std::string_view field_str, int min_val, int max_val) {
  std::set<int> values;
  // Only values inside [min_val, max_val] are ever added, which equals adding everything and
  // dropping the rest afterwards.
  const auto add_range = [&](std::int64_t low, std::int64_t high) {
    for (auto v = std::max<std::int64_t>(low, min_val); v <= std::min<std::int64_t>(high, max_val);
         ++v) {
      values.insert(static_cast<int>(v));
    }
  };
  for (std::size_t pos = 0;;) {
    const auto comma = field_str.find(',', pos);
    const auto piece = strip(field_str.substr(
        pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    if (piece == "*") {
      add_range(min_val, max_val);
    } else if (const auto slash = piece.find('/'); slash != std::string_view::npos) {
      const auto base = piece.substr(0, slash);
      const auto step = parse_int(piece.substr(slash + 1), piece);
      const auto start = base == "*" ? std::int64_t{min_val} : parse_int(base, piece);
      if (step == 0)
        throw InvalidValueError("Step of 0 in cron field '" + std::string(piece) + "'");
      if (step > 0) {
        auto v = start;
        if (v < min_val) v += (min_val - v + step - 1) / step * step;
        for (; v <= max_val; v += step) values.insert(static_cast<int>(v));
      }
    } else if (const auto dash = piece.find('-'); dash != std::string_view::npos) {
      add_range(parse_int(piece.substr(0, dash), piece), parse_int(piece.substr(dash + 1), piece));
    } else {
      const auto v = parse_int(piece, piece);
      add_range(v, v);
    }
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return values;
}

std::set<int> CronExpression::_dow_adjusted() const {
  static constexpr int MONDAY_FIRST[] = {6, 0, 1, 2, 3, 4, 5};
  std::set<int> days;
  for (int d = 0; d < 7; ++d) {
    if (_dow >> d & 1) days.insert(MONDAY_FIRST[d]);
  }
  return days;
}

bool CronExpression::matches(LocalTime dt) const {
  using namespace std::chrono;
  const auto day = floor<days>(dt);
  const hh_mm_ss time{floor<minutes>(dt - day)};
  const year_month_day date{day};
  return (_minute >> time.minutes().count() & 1) && (_hour >> time.hours().count() & 1) &&
         (_dom >> unsigned(date.day()) & 1) && (_month >> unsigned(date.month()) & 1) &&
         (_dow >> weekday{day}.c_encoding() & 1);
}

LocalTime CronExpression::next_occurrence(std::optional<LocalTime> after) const {
  using namespace std::chrono;
  const auto first = floor<minutes>(after ? *after : host::clock().local_now()) + minutes{1};
  const auto last = first + minutes{SEARCH_MINUTES - 1};

  // Walks the days of the window, skipping months that cannot match, and inside a matching day
  // jumps straight to the first allowed hour and minute.
  if (_minute && _hour && _dom && _month && _dow) {
    const auto first_day = floor<days>(first);
    const auto last_day = floor<days>(last);
    const int first_minute = static_cast<int>((first - first_day).count());
    const int last_minute = static_cast<int>((last - last_day).count());

    const year_month_day date{first_day};
    int year = int(date.year());
    int month = int(unsigned(date.month()));
    int dom = int(unsigned(date.day()));
    int dow = int(weekday{first_day}.c_encoding());
    for (auto day = first_day; day <= last_day;) {
      const int month_days = days_in_month(year, month);
      if (!(_month >> month & 1)) {
        const int skip = month_days - dom + 1;
        day += days{skip};
        dow = (dow + skip) % 7;
        dom = 1;
        if (++month == 13) month = 1, ++year;
        continue;
      }
      if ((_dom >> dom & 1) && (_dow >> dow & 1)) {
        const int lo = day == first_day ? first_minute : 0;
        const int hi = day == last_day ? last_minute : 1439;
        for (int h = lo / 60; h <= hi / 60; ++h) {
          if (!(_hour >> h & 1)) continue;
          const int from = h == lo / 60 ? lo % 60 : 0;
          const std::uint64_t allowed = _minute >> from << from;
          if (allowed == 0) continue;
          const int at = h * 60 + std::countr_zero(allowed);
          if (at > hi) break;
          return LocalTime{day + minutes{at}};
        }
      }
      day += days{1};
      dow = (dow + 1) % 7;
      if (++dom > month_days) {
        dom = 1;
        if (++month == 13) month = 1, ++year;
      }
    }
  }
  throw InvalidValueError("No next occurrence found for cron: " + _expr);
}

}  // namespace orvane::scheduler
