// Calendar routines of the age and date filters, shared with the sibling tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// The three times of one file, as calendar parts (weekday left 0) and as raw
// ticks (UTC).
struct file_dates {
  calendar_time write_time;
  calendar_time access_time;
  calendar_time create_time;
  file_ticks create_raw = 0;
  file_ticks access_raw = 0;
  file_ticks write_raw = 0;
};

// Narrow copy of a date value (names are UTF-8 already: the bytes are kept),
// at most 1039 bytes.
std::string narrow_text(std::string_view text);

// Splits a "mm-dd-yyyy"-style text by the layout table; years below 1900 are
// raised by 1900. Never fails: an unrecognised layout gives 1900, 0, 0.
void split_date_text(std::string_view text, int& year, int& month, int& day);

// split_date_text, but a year of 0-9 or 11-99 means 20xx or 19xx as it does in
// days_since_date, so that a date bound and an age in days name the same day.
void split_bound_date(std::string_view text, int& year, int& month, int& day);

// Whole days from the date's local midnight to now (negative in the future).
// The text is read as month, day, year around any one-character separators.
int64_t days_since_date(std::string_view text);

// Local calendar fields to seconds since 1970; hour1, minute1 and second1 carry
// the value plus one (0 also means 0); a year below 1900 counts from 1900.
// Daylight saving is decided by the run-time. -1 when the time cannot be formed.
int64_t make_local_time(int year, int month, int day, int hour1, int minute1, int second1);

// Seconds since 1970 to file ticks.
file_ticks to_file_time(int64_t seconds);

enum class day_of_year_result { ok, out_of_range, invalid_date };
// Day of the year (1 January is 1) into `total`; out_of_range when month > 12 or
// day > 31; invalid_date when the day does not exist in that month and year
// (negative months and days included; month 0 has no days, so only day 0 fits).
day_of_year_result day_of_year(int year, int day, int month, int& total);
// The same as three-digit text, "%03d"; empty unless ok.
std::string day_of_year_text(int year, int day, int month);

// Day number of a date: the difference of two day numbers is their distance in
// days, for every year (1 January 1900 is 19001). 0 when month > 12 or day > 31.
int64_t day_number(int year, int month, int day);

// Days in `month` (1-12) of `year`; 0 for any other month.
int month_length(int year, int month);

// Seconds since 1970-01-01 00:00:00 UTC of a calendar time read as UTC (proleptic
// Gregorian); month and day are not checked.
int64_t calendar_utc_seconds(int year, int month, int day, int hour, int minute, int second);
// The calendar time in UTC of seconds since 1970 (proleptic Gregorian; weekday and
// milliseconds left 0): the inverse of calendar_utc_seconds, for any thread.
calendar_time utc_calendar_of(int64_t seconds);

// The zone of a message's date (RFC 5322), in minutes east of UTC, from the text
// that follows the time of day: "+hhmm" or "-hhmm", or a zone name. "UT", "UTC",
// "GMT", "Z", a military letter, any other name, no zone at all and an offset
// whose hours exceed 23 or whose minutes exceed 59 count as UTC, as the RFC says
// of -0000; the North American names have their offsets.
int zone_offset_minutes(std::string_view zone);

// A message's sent time in seconds since 1970 UTC, from the value of its Date or
// Sent header with its folds joined: the day, a month's English name (three
// letters or more), the year (two digits are 20xx below 50 and 19xx from 50, three count
// from 1900), the time of day (h:mm or hh:mm, :ss when given, AM or PM when
// given) and the zone right after it, in any order a mail program writes them;
// weekday names and comments are passed over. False when no time can be read: no
// such day, no time of day, or one that is not a time.
bool sent_time_of(std::string_view value, int64_t& seconds);

// A sent-date bound, in seconds since 1970 UTC: exactly "yyyy-mm-dd" or
// "mm-dd-yyyy", optionally followed by "Thh:mm" or "Thh:mm:ss" and "Z", "+hh:mm"
// or "+hhmm" (or with '-'); a time without a zone, and a date without a time
// (its midnight), are UTC. False for any other text and for a day or time that
// does not exist.
bool read_date_bound(std::string_view text, int64_t& seconds);

// Leap year by the Gregorian rule.
bool is_leap_year(int year);

// Waits n seconds (sleeping, not spinning) when standard error is a terminal;
// nothing for n <= 0 or when nobody watches the screen.
void pause_seconds(int n);
