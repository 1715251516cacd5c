#include "orvane/scheduler/cron.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <optional>
#include <random>
#include <vector>

#include "support.hpp"

namespace orvane::scheduler::testing {
namespace {

using std::chrono::days;
using std::chrono::minutes;

std::set<int> range(int low, int high) {
  std::set<int> values;
  for (int v = low; v <= high; ++v) values.insert(v);
  return values;
}

std::string error_of(const std::string& expression) {
  try {
    CronExpression cron(expression);
    cron.next_occurrence(local(2025, 3, 10, 12, 0));
  } catch (const InvalidValueError& error) {
    return error.what();
  }
  return "";
}

TEST(CronParse, FieldsAllowTheListedValues) {
  EXPECT_EQ(CronExpression::_parse_field("*/15", 0, 59), (std::set<int>{0, 15, 30, 45}));
  EXPECT_EQ(CronExpression::_parse_field("5/15", 0, 59), (std::set<int>{5, 20, 35, 50}));
  EXPECT_EQ(CronExpression::_parse_field("1,5-7,*/20", 0, 59),
            (std::set<int>{0, 1, 5, 6, 7, 20, 40}));
  EXPECT_EQ(CronExpression::_parse_field("*", 1, 12), range(1, 12));
  EXPECT_EQ(CronExpression::_parse_field("10-70", 0, 59), range(10, 59));
  EXPECT_EQ(CronExpression::_parse_field(" 3 , 4 ", 0, 6), (std::set<int>{3, 4}));
}

TEST(CronParse, OutOfBoundsValuesAreDroppedWithoutError) {
  EXPECT_TRUE(CronExpression::_parse_field("75", 0, 59).empty());
  EXPECT_TRUE(CronExpression::_parse_field("0", 1, 31).empty());
  EXPECT_TRUE(CronExpression::_parse_field("7", 0, 6).empty());
  EXPECT_TRUE(CronExpression::_parse_field("5-1", 0, 59).empty());
  EXPECT_TRUE(CronExpression::_parse_field("*/-5", 0, 59).empty());
  // A negative start still steps into the field: -3, 4, 11, ...
  EXPECT_EQ(CronExpression::_parse_field("-3/7", 0, 20), (std::set<int>{4, 11, 18}));
  EXPECT_EQ(CronExpression::_parse_field("0-999999999999999999", 0, 3), range(0, 3));
}

TEST(CronParse, MalformedSchedulesFailAtConstruction) {
  for (const char* bad :
       {"1-5/2 * * * *", "*/0 * * * *", "a * * * *", "1,,2 * * * *", "-5 * * * *", "1-2-3 * * * *",
        "*/5/2 * * * *", "* * * * 1-", "9999999999999999999 * * * *"}) {
    EXPECT_THROW(CronExpression{bad}, InvalidValueError) << bad;
  }
  // An error in a later field is still found.
  EXPECT_THROW(CronExpression("0 6 * * x"), InvalidValueError);
}

TEST(CronParse, WrongFieldCountNamesTheCountAndTheStrippedText) {
  EXPECT_EQ(error_of("0 6 * *"),
            "Cron expression must have 5 fields (min hour dom month dow), got 4: '0 6 * *'");
  EXPECT_EQ(error_of(" \t0 6 * * * *  "),
            "Cron expression must have 5 fields (min hour dom month dow), got 6: '0 6 * * * *'");
  EXPECT_EQ(error_of(""), "Cron expression must have 5 fields (min hour dom month dow), got 0: ''");
  CronExpression padded("  0 6 * * *\t");
  EXPECT_EQ(padded.expression(), "0 6 * * *");
}

TEST(CronParse, DayOfWeekIsConvertedToMondayFirst) {
  EXPECT_EQ(CronExpression("* * * * 0")._dow_adjusted(), (std::set<int>{6}));
  EXPECT_EQ(CronExpression("* * * * 1,6")._dow_adjusted(), (std::set<int>{0, 5}));
  EXPECT_EQ(CronExpression("* * * * *")._dow_adjusted(), range(0, 6));
}

TEST(CronMatch, AllFiveFieldsMustHoldAndSecondsAreIgnored) {
  CronExpression daily("0 6 * * *");
  EXPECT_TRUE(daily.matches(local(2025, 3, 10, 6, 0, 59, 999999)));
  EXPECT_FALSE(daily.matches(local(2025, 3, 10, 6, 1)));
  EXPECT_FALSE(daily.matches(local(2025, 3, 10, 7, 0)));

  // Day of month and day of week are combined with AND: 2025-09-01 is a Monday.
  CronExpression first_monday("0 9 1 * 1");
  EXPECT_TRUE(first_monday.matches(local(2025, 9, 1, 9, 0)));
  EXPECT_FALSE(first_monday.matches(local(2025, 10, 1, 9, 0)));  // a Wednesday
  EXPECT_FALSE(first_monday.matches(local(2025, 9, 8, 9, 0)));   // a Monday, not the first

  CronExpression sunday("0 0 * * 0");
  EXPECT_TRUE(sunday.matches(local(2025, 3, 9, 0, 0)));
  EXPECT_FALSE(sunday.matches(local(2025, 3, 10, 0, 0)));
  EXPECT_FALSE(CronExpression("0 0 * * 7").matches(local(2025, 3, 9, 0, 0)));
}

TEST(CronSearch, NextOccurrenceIsStrictlyAfterTheMinuteOfTheStart) {
  CronExpression daily("0 6 * * *");
  EXPECT_EQ(daily.next_occurrence(local(2025, 3, 10, 5, 59, 30)), local(2025, 3, 10, 6, 0));
  EXPECT_EQ(daily.next_occurrence(local(2025, 3, 10, 6, 0)), local(2025, 3, 11, 6, 0));
  EXPECT_EQ(daily.next_occurrence(local(2025, 12, 31, 23, 59, 59, 999999)),
            local(2026, 1, 1, 6, 0));
  CronExpression every("* * * * *");
  EXPECT_EQ(every.next_occurrence(local(2025, 3, 10, 10, 0, 0)), local(2025, 3, 10, 10, 1));
  EXPECT_EQ(every.next_occurrence(local(2025, 3, 10, 10, 0, 59, 5)), local(2025, 3, 10, 10, 1));
  EXPECT_EQ(CronExpression("0 9 1 * 1").next_occurrence(local(2025, 3, 10, 0, 0)),
            local(2025, 9, 1, 9, 0));
}

TEST(CronSearch, WithoutAStartItSearchesFromNowOnTheHostClock) {
  set_time_zone("UTC");
  host::set_clock(std::make_shared<host::VirtualClock>(1741586370.0));  // 2025-03-10 05:59:30
  EXPECT_EQ(CronExpression("0 6 * * *").next_occurrence(), local(2025, 3, 10, 6, 0));
  host::set_clock(nullptr);
}

TEST(CronSearch, SchedulesWithoutAMinuteInTheNextYearFail) {
  for (const char* never : {"0 0 30 2 *", "75 * * * *", "0 0 * * 7", "5-1 * * * *"}) {
    EXPECT_EQ(error_of(never), std::string("No next occurrence found for cron: ") + never);
  }
  // 29 February is found only when it lies within the 366 days searched.
  CronExpression leap_day("0 0 29 2 *");
  EXPECT_EQ(leap_day.next_occurrence(local(2027, 3, 1, 0, 0)), local(2028, 2, 29, 0, 0));
  EXPECT_THROW(leap_day.next_occurrence(local(2025, 3, 1, 0, 0)), InvalidValueError);
  // The window is the 527040 minutes after the start's minute: the last one counts, the next not.
  EXPECT_EQ(leap_day.next_occurrence(local(2027, 2, 28, 0, 0, 30)), local(2028, 2, 29, 0, 0));
  EXPECT_THROW(leap_day.next_occurrence(local(2027, 2, 27, 23, 59, 59)), InvalidValueError);
}

// --- differential check of the fast search against a plain minute-by-minute search ----------

// The search as the system defines it: every minute, all five tests, for 527040 minutes.
std::optional<LocalTime> reference_next(const std::vector<std::set<int>>& fields,
                                        const std::set<int>& dow_monday_first, LocalTime after) {
  using namespace std::chrono;
  // Plain lookup tables of the sets, so that a full year of minutes stays quick.
  std::array<std::array<bool, 64>, 6> allowed{};
  for (int f = 0; f < 5; ++f) {
    for (int v : fields[f]) allowed[f][v] = true;
  }
  for (int v : dow_monday_first) allowed[5][v] = true;
  // A field that allows nothing never matches; no need to walk the year to see it.
  for (const auto& field : fields) {
    if (field.empty()) return std::nullopt;
  }
  if (dow_monday_first.empty()) return std::nullopt;

  const auto first = floor<minutes>(after) + minutes{1};
  auto day = floor<days>(first);
  int minute_of_day = int((first - day).count());
  year_month_day date{day};
  int weekday_monday_first = int((weekday{day}.c_encoding() + 6) % 7);
  for (int i = 0; i < 366 * 1440; ++i) {
    if (allowed[0][minute_of_day % 60] && allowed[1][minute_of_day / 60] &&
        allowed[2][unsigned(date.day())] && allowed[3][unsigned(date.month())] &&
        allowed[5][weekday_monday_first]) {
      return LocalTime{day + minutes{minute_of_day}};
    }
    if (++minute_of_day == 1440) {
      minute_of_day = 0;
      day += days{1};
      date = year_month_day{day};
      weekday_monday_first = (weekday_monday_first + 1) % 7;
    }
  }
  return std::nullopt;
}

class ExpressionMaker {
 public:
  explicit ExpressionMaker(unsigned seed) : _rng(seed) {}

  std::string make() {
    return field(0, 59) + " " + field(0, 23) + " " + dom() + " " + month() + " " + field(0, 6);
  }

  LocalTime instant() {
    using namespace std::chrono;
    const int year = pick(1999, 2031);
    auto day = local_days{std::chrono::year{year} / pick(1, 12) / 1} + days{pick(0, 30)};
    if (pick(0, 3) == 0) day = local_days{std::chrono::year{year} / 12 / 31} - days{pick(0, 2)};
    if (pick(0, 3) == 0) day = local_days{std::chrono::year{year} / 2 / 28} + days{pick(0, 1)};
    return LocalTime{day} + hours{pick(0, 23)} + minutes{pick(0, 59)} + seconds{pick(0, 59)} +
           microseconds{pick(0, 999999)};
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(_rng); }

  std::string piece(int min, int max) {
    switch (pick(0, 5)) {
      case 0:
        return "*";
      case 1:
        return "*/" + std::to_string(pick(-2, max + 3) == 0 ? 1 : pick(1, max + 3));
      case 2:
        return std::to_string(pick(std::max(0, min - 1), max + 2)) + "/" +
               std::to_string(pick(1, max / 2 + 2));
      case 3: {
        const int low = pick(std::max(0, min - 1), max + 1);
        return std::to_string(low) + "-" + std::to_string(low + pick(-2, max / 2));
      }
      default:
        return std::to_string(pick(std::max(0, min - 1), max + 3));
    }
  }

  std::string field(int min, int max) {
    if (pick(0, 2) == 0) return "*";
    std::string text = piece(min, max);
    for (int n = pick(0, 4) - 2; n > 0; --n) text += "," + piece(min, max);
    return text;
  }

  std::string dom() {
    if (pick(0, 3) == 0) return std::to_string(pick(28, 31));
    return field(1, 31);
  }

  std::string month() {
    if (pick(0, 3) == 0) return pick(0, 1) ? "2" : "2,4";
    return field(1, 12);
  }

  std::mt19937 _rng;
};

std::vector<std::string> split_fields(const std::string& expression) {
  std::istringstream in(expression);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

TEST(CronSearch, FastSearchEqualsTheMinuteByMinuteSearch) {
  ExpressionMaker maker(20250310);
  constexpr int BOUNDS[5][2] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 6}};
  int compared = 0, found = 0, walked = 0;
  for (int e = 0; e < 2000; ++e) {
    const auto text = maker.make();
    const CronExpression cron(text);
    const auto parts = split_fields(text);
    std::vector<std::set<int>> fields;
    for (int f = 0; f < 5; ++f) {
      fields.push_back(CronExpression::_parse_field(parts[f], BOUNDS[f][0], BOUNDS[f][1]));
    }
    const auto dow = cron._dow_adjusted();
    const bool empty_field =
        std::any_of(fields.begin(), fields.end(), [](const auto& f) { return f.empty(); }) ||
        dow.empty();
    for (int i = 0; i < 3; ++i) {
      const auto after = maker.instant();
      const auto expected = reference_next(fields, dow, after);
      std::optional<LocalTime> actual;
      try {
        actual = cron.next_occurrence(after);
      } catch (const InvalidValueError& error) {
        EXPECT_EQ(error.what(), "No next occurrence found for cron: " + text);
      }
      ASSERT_EQ(actual, expected) << text << " after "
                                  << std::chrono::floor<minutes>(after).time_since_epoch().count();
      if (actual) {
        EXPECT_TRUE(cron.matches(*actual)) << text;
      }
      ++compared;
      found += expected.has_value();
      walked += !expected && !empty_field;
    }
  }
  std::cout << compared << " searches compared, " << found << " found, " << walked
            << " walked a whole year in vain\n";
  // Both outcomes are well represented.
  EXPECT_EQ(compared, 6000);
  EXPECT_GT(found, 1500);
  EXPECT_LT(found, 5800);
  EXPECT_GT(walked, 100);
}

}  // namespace
}  // namespace orvane::scheduler::testing
