#include "INCLUDE_U/dates.h"

#include "platform/platform.h"

// Stand-ins until the calendar routines exist.
std::string narrow_text(std::string_view text) { return std::string(text.substr(0, 1039)); }

void split_date_text(std::string_view text, int& year, int& month, int& day) {
  (void)text;
  year = 1900;
  month = 0;
  day = 0;
}

int64_t days_since_date(std::string_view text) {
  (void)text;
  return 0;
}

int64_t make_local_time(int year, int month, int day, int hour1, int minute1, int second1) {
  int64_t out = 0;
  g_platform.local_calendar_to_seconds(year, month, day, hour1 ? hour1 - 1 : 0,
                                       minute1 ? minute1 - 1 : 0, second1 ? second1 - 1 : 0, out);
  return out;
}

file_ticks to_file_time(int64_t seconds) {
  return static_cast<file_ticks>((seconds + k_seconds_1601_to_1970) * k_ticks_per_second);
}

day_of_year_result day_of_year(int year, int day, int month, int& total) {
  (void)year;
  (void)day;
  (void)month;
  total = 0;
  return day_of_year_result::out_of_range;
}

std::string day_of_year_text(int year, int day, int month) {
  (void)year;
  (void)day;
  (void)month;
  return std::string();
}

int64_t day_number(int year, int month, int day) {
  (void)year;
  (void)month;
  (void)day;
  return 0;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void pause_seconds(int n) { g_platform.sleep_milliseconds(n * 1000); }
