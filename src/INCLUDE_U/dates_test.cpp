#include "INCLUDE_U/dates.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dates_test_support.h"
#include "test_util.h"

namespace {

// Local calendar parts of a time, as the listing would show it.
calendar_time local_calendar(int64_t seconds) {
  calendar_time t;
  EXPECT_TRUE(g_platform.seconds_to_calendar(seconds, true, t));
  return t;
}

// Fixes "now" for the routines that read the clock.
int64_t s_fixed_now = 0;
int64_t fixed_now() { return s_fixed_now; }

int s_slept_milliseconds = 0;
int s_sleep_calls = 0;
void record_sleep(int milliseconds) {
  s_slept_milliseconds += milliseconds;
  ++s_sleep_calls;
}

struct split_case {
  std::string text;
  int year, month, day;
};

// Splits each case's text with `split` and compares the three parts.
void check_splits(void (*split)(std::string_view, int&, int&, int&),
                  const std::vector<split_case>& cases) {
  for (const split_case& c : cases) {
    int year = -1, month = -1, day = -1;
    split(c.text, year, month, day);
    EXPECT_EQ(year, c.year) << c.text;
    EXPECT_EQ(month, c.month) << c.text;
    EXPECT_EQ(day, c.day) << c.text;
  }
}

}  // namespace

TEST(split_date_text, every_layout_of_the_table) {
  check_splits(
      split_date_text,
      {
          // plain digits, six characters: month first up to 12, else year first
          {"051020", 1920, 5, 10},
          {"121005", 1905, 12, 10},
          {"200510", 1920, 5, 10},
          {"130510", 1913, 5, 10},
          {"13051 ", 1913, 5, 1},  // white space from position 5 on reads as six characters
          // plain digits, eight characters: by the value of the first two
          {"10202005", 2005, 10, 20},
          {"13202005", 2005, 13, 20},
          {"14051020", 3305, 10, 20},  // four-digit years below 1900 are raised too
          {"20051020", 2005, 10, 20},
          {"21051020", 1921, 5, 10},
          // plain digits, five or seven characters: month, day, two-digit year
          {"05102", 1902, 5, 10},
          {"0510201", 1920, 5, 10},
          // separated, eight characters
          {"12-05-05", 1905, 12, 5},
          {"10-20-05", 1905, 10, 20},
          {"13-05-10", 1913, 5, 10},
          // separated, nine characters: month first whatever the lead
          {"12-05-200", 1920, 12, 5},
          {"1-20-2005", 1900, 1, 0},
          // separated, ten characters
          {"12-05-2005", 2005, 12, 5},
          {"12/05/2005", 2005, 12, 5},
          {"12.05.2005", 2005, 12, 5},
          {"13-05-2005", 2005, 13, 5},
          {"2005-10-20", 2005, 10, 20},
          {"20-10-2005", 1920, -2, 5},  // a day-first text is not supported
      });
}

TEST(split_date_text, short_and_odd_texts_read_nothing_beyond_their_end) {
  check_splits(split_date_text, {
                                    {"", 1900, 0, 0},
                                    {"1", 1900, 1, 0},
                                    {"12", 1900, 12, 0},
                                    {"12-5", 1900, 12, 5},
                                    {"ab-cd-efgh", 1900, 0, 0},
                                    {std::string("12-05-2005", 5), 1900, 12, 5},
                                });
}

TEST(split_bound_date, reads_short_years_as_days_since_date_does) {
  check_splits(split_bound_date,
               {
                   {"10-20-05", 2005, 10, 20},
                   {"10-20-00", 2000, 10, 20},
                   {"10-20-09", 2009, 10, 20},
                   {"10-20-10", 1910, 10, 20},
                   {"10-20-95", 1995, 10, 20},
                   {"102005", 2005, 10, 20},
                   // Four-digit years stay as split_date_text has them.
                   {"10-20-1905", 1905, 10, 20},
                   {"10-20-2005", 2005, 10, 20},
                   {"2005-10-20", 2005, 10, 20},
                   // A year without digits reads as 0, which days_since_date takes for 2000 too.
                   {"10-20-", 2000, 10, 20},
                   {"ab-cd-efgh", 2000, 0, 0},
               });
}

TEST(make_local_time, hour_minute_and_second_carry_one_more) {
  struct {
    int year, month, day, hour1, minute1, second1;
    int hour, minute, second;
  } cases[] = {
      {2013, 8, 14, 0, 0, 0, 0, 0, 0},       {2013, 8, 14, 1, 1, 1, 0, 0, 0},
      {2013, 8, 14, 24, 60, 60, 23, 59, 59}, {2013, 1, 14, 11, 31, 2, 10, 30, 1},
      {113, 8, 14, 0, 0, 0, 0, 0, 0},  // years below 1900 count from 1900
  };
  for (const auto& c : cases) {
    calendar_time t =
        local_calendar(make_local_time(c.year, c.month, c.day, c.hour1, c.minute1, c.second1));
    EXPECT_EQ(t.year, 2013) << c.year;
    EXPECT_EQ(t.month, c.month);
    EXPECT_EQ(t.day, 14);
    EXPECT_EQ(t.hour, c.hour) << c.month << " " << c.hour1;
    EXPECT_EQ(t.minute, c.minute);
    EXPECT_EQ(t.second, c.second);
  }
}

// Midnight in summer is midnight, not 01:00: the run-time decides daylight saving.
TEST(make_local_time, daylight_saving_follows_the_date) {
  scoped_eastern_zone zone;
  if (!scoped_eastern_zone::in_force()) GTEST_SKIP() << "the local zone cannot be pinned here";
  EXPECT_EQ(make_local_time(2013, 8, 14, 0, 0, 0), eastern_seconds(2013, 8, 14, 0, 0, 0));
  EXPECT_EQ(make_local_time(2013, 1, 14, 0, 0, 0), eastern_seconds(2013, 1, 14, 0, 0, 0));
  EXPECT_EQ(make_local_time(2013, 8, 14, 24, 60, 60), eastern_seconds(2013, 8, 14, 23, 59, 59));
}

TEST(to_file_time, counts_ticks_from_1601) {
  EXPECT_EQ(to_file_time(0), 116444736000000000ULL);
  EXPECT_EQ(to_file_time(1), 116444736010000000ULL);
  EXPECT_EQ(to_file_time(-k_seconds_1601_to_1970), 0ULL);
}

TEST(days_since_date, whole_days_from_local_midnight) {
  scoped_platform swap;
  s_fixed_now = make_local_time(2013, 8, 20, 13, 1, 1);  // 12:00 local
  g_platform.current_time = fixed_now;
  struct {
    const char* text;
    int64_t days;
  } cases[] = {
      {"08-20-2013", 0}, {"08-19-2013", 1},   {"08-14-2013", 6},
      {"8/14/2013", 6},  {"8-14-2013", 6},    {"08-25-2013", -4},
      {"08-21-2013", 0}, {"08-20-2012", 365}, {"08-20-1913", 36525},
  };
  for (const auto& c : cases) EXPECT_EQ(days_since_date(c.text), c.days) << c.text;
  // Two-digit years: 11 to 99 are the 1900s, 0 to 9 the 2000s; 10 stays 1910.
  s_fixed_now = make_local_time(2005, 10, 20, 13, 1, 1);
  EXPECT_EQ(days_since_date("10-20-05"), 0);
  EXPECT_EQ(days_since_date("10-20-99"), days_since_date("10-20-1999"));
  EXPECT_EQ(days_since_date("10-20-10"), days_since_date("10-20-1910"));
}

TEST(day_of_year, totals_and_invalid_days) {
  struct {
    int year, day, month;
    day_of_year_result result;
    int total;
    const char* text;
  } cases[] = {
      {2000, 29, 2, day_of_year_result::ok, 60, "060"},
      {2001, 1, 1, day_of_year_result::ok, 1, "001"},
      {2001, 1, 3, day_of_year_result::ok, 60, "060"},
      {2001, 31, 12, day_of_year_result::ok, 365, "365"},
      {2000, 31, 12, day_of_year_result::ok, 366, "366"},
      {2013, 0, 0, day_of_year_result::ok, 0, "000"},
      {1900, 29, 2, day_of_year_result::invalid_date, 0, ""},
      {2100, 29, 2, day_of_year_result::invalid_date, 0, ""},
      {2013, 30, 2, day_of_year_result::invalid_date, 0, ""},
      {2013, 31, 4, day_of_year_result::invalid_date, 0, ""},
      {2013, 1, 0, day_of_year_result::invalid_date, 0, ""},
      {2013, 5, -2, day_of_year_result::invalid_date, 0, ""},
      {2013, -1, 5, day_of_year_result::invalid_date, 0, ""},
      {2013, 1, 13, day_of_year_result::out_of_range, 0, ""},
      {2013, 32, 1, day_of_year_result::out_of_range, 0, ""},
  };
  for (const auto& c : cases) {
    int total = -1;
    EXPECT_EQ(day_of_year(c.year, c.day, c.month, total), c.result)
        << c.month << "/" << c.day << "/" << c.year;
    if (c.result == day_of_year_result::ok) {
      EXPECT_EQ(total, c.total);
    }
    EXPECT_EQ(day_of_year_text(c.year, c.day, c.month), c.text);
  }
}

TEST(day_number, differences_are_distances_in_days_for_every_year) {
  EXPECT_EQ(day_number(1900, 1, 1), 19001);
  struct {
    int year1, month1, day1, year2, month2, day2;
    int64_t days;
  } cases[] = {
      {2000, 2, 28, 2000, 3, 1, 2},     {1900, 2, 28, 1900, 3, 1, 1},
      {2100, 2, 28, 2100, 3, 1, 1},     {2400, 2, 28, 2400, 3, 1, 2},
      {1600, 1, 1, 1601, 1, 1, 366},    {1700, 1, 1, 1701, 1, 1, 365},
      {2020, 12, 31, 2021, 1, 1, 1},    {2021, 12, 31, 2022, 1, 1, 1},
      {1970, 1, 1, 2024, 1, 1, 19723},  {1899, 12, 31, 1900, 1, 1, 1},
      {1601, 1, 1, 1970, 1, 1, 134774}, {2024, 2, 29, 2025, 2, 28, 365},
      {1979, 12, 31, 1980, 0, 0, 0},  // a never-set time counts from the end of 1979
  };
  for (const auto& c : cases) {
    EXPECT_EQ(day_number(c.year2, c.month2, c.day2) - day_number(c.year1, c.month1, c.day1), c.days)
        << c.month1 << "/" << c.day1 << "/" << c.year1 << " to " << c.month2 << "/" << c.day2 << "/"
        << c.year2;
  }
  EXPECT_EQ(day_number(2013, 13, 1), 0);
  EXPECT_EQ(day_number(2013, 1, 32), 0);
}

TEST(pause_seconds, sleeps_only_for_someone_at_a_terminal) {
  scoped_platform swap;
  g_platform.sleep_milliseconds = record_sleep;
  struct {
    bool terminal;
    int seconds;
    int slept_milliseconds;
  } cases[] = {{true, 3, 3000}, {true, 0, 0}, {true, -2, 0}, {false, 3, 0}, {false, 1, 0}};
  for (const auto& c : cases) {
    s_slept_milliseconds = 0;
    s_sleep_calls = 0;
    g_platform.is_terminal =
        c.terminal ? +[](std::FILE* s) { return s == stderr; } : +[](std::FILE*) { return false; };
    pause_seconds(c.seconds);
    EXPECT_EQ(s_slept_milliseconds, c.slept_milliseconds) << c.terminal << " " << c.seconds;
    EXPECT_EQ(s_sleep_calls, c.slept_milliseconds ? 1 : 0) << c.terminal << " " << c.seconds;
  }
}

TEST(narrow_text, keeps_the_bytes_up_to_its_limit) {
  EXPECT_EQ(narrow_text("12-05-2005"), "12-05-2005");
  EXPECT_EQ(narrow_text(std::string(2000, '1')).size(), 1039u);
}

TEST(sent_time_of, reads_every_form_mail_programs_write_and_refuses_what_is_no_time) {
  const int64_t jan_2 = calendar_utc_seconds(2024, 1, 2, 0, 0, 0);
  constexpr int64_t h = 3600;
  constexpr int64_t none = INT64_MIN;
  struct {
    const char* value;
    int64_t seconds;
  } cases[] = {
      // Zones, named and numbered, across midnight.
      {" Mon, 1 Jan 2024 23:30:00 -0500", jan_2 + 4 * h + 1800},
      {" Tue, 2 Jan 2024 01:00:00 +0200", jan_2 - h},
      {" 2 Jan 2024 00:00:00 GMT", jan_2},
      {" 2 Jan 2024 00:00 UT", jan_2},
      {" 2 Jan 2024 00:00:00 utc", jan_2},
      {" 1 Jan 2024 16:00:00 PST", jan_2},
      {" 1 Jan 2024 17:00:00 mdt", jan_2 - h},
      {" 2 Jan 2024 00:00:00 Q", jan_2},                  // military letters count as UTC
      {" 2 Jan 2024 00:00:00 CET", jan_2},                // and so does any other name
      {" 2 Jan 2024 00:00:00 +0000 (UTC)", jan_2},
      {" 2 Jan 2024 00:00:00 (Tuesday) -0000", jan_2},
      // A zone no place has is no zone.
      {" 2 Jan 2024 00:00:00 +9999", jan_2},
      {" 2 Jan 2024 00:00:00 -2400", jan_2},
      {" 2 Jan 2024 00:00:00 +0060", jan_2},
      {" 2 Jan 2024 00:00:00 +2359", jan_2 - 23 * h - 59 * 60},
      // Joined folds, one-digit hours, fractions, the zone before the year.
      {" Mon, 1 Jan 2024 10:00:00 +0200", calendar_utc_seconds(2024, 1, 1, 8, 0, 0)},
      {" Tue, 2 Jan 2024 1:15:00 +0300", calendar_utc_seconds(2024, 1, 1, 22, 15, 0)},
      {" 2 Jan 2024 10:00:00.250 +0100", jan_2 + 9 * h},
      {" Tue Jan  2 10:00:00 EST 2024", jan_2 + 15 * h},
      {" Tue Jan  2 10:00:00 2024", jan_2 + 10 * h},
      {" 29 Feb 2024 12:00", calendar_utc_seconds(2024, 2, 29, 12, 0, 0)},
      // AM and PM, as Outlook's Sent lines have them.
      {" Tuesday, January 2, 2024 10:15 PM", jan_2 + 22 * h + 900},
      {" Tuesday, January 2, 2024 10:15PM", jan_2 + 22 * h + 900},
      {" January 2, 2024 12:30 AM", jan_2 + 1800},
      {" January 2, 2024 12:30 pm", jan_2 + 12 * h + 1800},
      {" January 2, 2024 9:15 am -0100", jan_2 + 10 * h + 900},
      // Obsolete years.
      {" 2 Jan 24 00:00 +0000", jan_2},
      {" 2 Jan 49 00:00", calendar_utc_seconds(2049, 1, 2, 0, 0, 0)},
      {" 2 Jan 50 00:00", calendar_utc_seconds(1950, 1, 2, 0, 0, 0)},
      {" 2 Jan 99 00:00", calendar_utc_seconds(1999, 1, 2, 0, 0, 0)},
      {" 2 Jan 124 00:00", jan_2},
      // No time that can be read: none, never midnight.
      {" Tue, 2 Jan 2024", none},
      {" 2 Jan 2024 25:00:00", none},
      {" 2 Jan 2024 10:60", none},
      {" 2 Jan 2024 123:00", none},
      {" 2 Jan 2024 10:", none},
      {" January 2, 2024 13:15 PM", none},
      {" January 2, 2024 0:15 AM", none},
      {" 29 Feb 2023 12:00", none},                       // no such day
      {" 2 2024 12:00", none},                            // no month
      {" Jan 2024 12:00", none},                          // no day
      {" mardi 2 janvier 2024 22:15", none},              // no English month name
      {" Sat, 2 Sept 2023 08:00 +0000", calendar_utc_seconds(2023, 9, 2, 8, 0, 0)},
      {" sometime soon", none},
      {"", none},
  };
  for (const auto& c : cases) {
    int64_t seconds = -1;
    bool readable = sent_time_of(c.value, seconds);
    EXPECT_EQ(readable ? seconds : none, c.seconds) << c.value;
  }
}

TEST(read_date_bound, takes_the_two_day_forms_a_time_and_a_zone_and_nothing_else) {
  const int64_t jan_2 = calendar_utc_seconds(2024, 1, 2, 0, 0, 0);
  constexpr int64_t none = INT64_MIN;
  struct {
    const char* text;
    int64_t seconds;
  } cases[] = {
      {"2024-01-02", jan_2},
      {"01-02-2024", jan_2},
      {"2024-02-29", calendar_utc_seconds(2024, 2, 29, 0, 0, 0)},
      {"2024-01-02T10:15", jan_2 + 36900},
      {"01-02-2024T10:15:30", jan_2 + 36930},
      {"2024-01-02T10:15Z", jan_2 + 36900},
      {"2024-01-02t10:15z", jan_2 + 36900},
      {"2024-01-02T10:15+02:00", jan_2 + 36900 - 7200},
      {"2024-01-02T10:15:00-0130", jan_2 + 36900 + 5400},
      {"2024-1-1", none},
      {"abc", none},
      {"", none},
      {"2024-01-01x", none},
      {"2024-01-01 junk", none},
      {"2024-01-01 10:00", none},
      {"2024/01/02", none},
      {"20240102", none},
      {"2024-02-30", none},
      {"13-01-2024", none},
      {"2024-00-10", none},
      {"2024-01-02T", none},
      {"2024-01-02T24:00", none},
      {"2024-01-02T10:60", none},
      {"2024-01-02T10:15:60", none},
      {"2024-01-02T1:15", none},
      {"2024-01-02Z", none},
      {"2024-01-02T10:15+2400", none},
      {"2024-01-02T10:15+02:60", none},
      {"2024-01-02T10:15+02", none},
      {"2024-01-02T10:15Zx", none},
  };
  for (const auto& c : cases) {
    int64_t seconds = -1;
    bool read = read_date_bound(c.text, seconds);
    EXPECT_EQ(read ? seconds : none, c.seconds) << c.text;
  }
}

TEST(calendar_utc_seconds, counts_from_1970_through_leap_days) {
  EXPECT_EQ(calendar_utc_seconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(calendar_utc_seconds(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(calendar_utc_seconds(2024, 1, 2, 3, 4, 5), 1704164645);
  EXPECT_EQ(calendar_utc_seconds(1969, 12, 31, 23, 59, 59), -1);
}

TEST(utc_calendar_of, is_the_inverse_of_calendar_utc_seconds_across_eras) {
  // Every day from 1600 to 2500 (leap centuries, 1970 and negative seconds
  // included), at a time of day that moves with the day.
  for (int64_t day = calendar_utc_seconds(1600, 1, 1, 0, 0, 0) / 86400;
       day <= calendar_utc_seconds(2500, 12, 31, 0, 0, 0) / 86400; ++day) {
    int64_t seconds = day * 86400 + (day * 7919 % 86400 + 86400) % 86400;
    calendar_time c = utc_calendar_of(seconds);
    ASSERT_EQ(calendar_utc_seconds(c.year, c.month, c.day, c.hour, c.minute, c.second), seconds)
        << c.year << "-" << c.month << "-" << c.day;
    ASSERT_GE(c.day, 1);
    ASSERT_LE(c.day, month_length(c.year, c.month));
  }
  calendar_time epoch = utc_calendar_of(-1);
  EXPECT_EQ(epoch.year, 1969);
  EXPECT_EQ(epoch.month, 12);
  EXPECT_EQ(epoch.day, 31);
  EXPECT_EQ(epoch.second, 59);
}
