#include "INCLUDE_U/dates.h"

#include <climits>
#include <cstdio>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

namespace {

constexpr int k_month_lengths[2][13] = {
    {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

// Day number of 1 January 1900, kept so that numbers agree with older run logs.
constexpr int64_t k_day_number_1900 = 19000;

// Where the year, month and day stand in a date text of one layout. The month
// and the day are always two characters.
struct date_layout {
  bool separated;
  int class_low, class_high;  // length class
  int lead_low, lead_high;    // value of the first two characters
  int year_at, year_length;
  int month_at, day_at;
};

constexpr date_layout k_date_layouts[] = {
    {false, 6, 6, INT_MIN, 12, 4, 2, 0, 2},      {false, 6, 6, 13, INT_MAX, 0, 2, 2, 4},
    {false, 8, 8, INT_MIN, 13, 4, 4, 0, 2},      {false, 8, 8, 14, 20, 0, 4, 4, 6},
    {false, 8, 8, 21, INT_MAX, 0, 2, 2, 4},      {false, 5, 5, INT_MIN, INT_MAX, 4, 2, 0, 2},
    {false, 7, 7, INT_MIN, INT_MAX, 4, 2, 0, 2}, {true, 8, 8, INT_MIN, 12, 6, 2, 0, 3},
    {true, 9, 9, INT_MIN, INT_MAX, 6, 2, 0, 3},  {true, 8, 8, 13, INT_MAX, 0, 2, 3, 6},
    {true, 10, 10, INT_MIN, 13, 6, 4, 0, 3},     {true, 10, 10, 14, INT_MAX, 0, 4, 5, 8},
};

// The character at `i`, or NUL past the end: short texts are read as if their
// terminator repeated, never beyond them.
char char_at(std::string_view text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

// The number that atoi reads from the `length` characters at `at`.
int number_at(std::string_view text, std::size_t at, std::size_t length) {
  if (at >= text.size()) return 0;
  return leading_int(text.substr(at, length));
}

bool is_separated(std::string_view text) {
  return !is_ascii_digit(char_at(text, 2)) || !is_ascii_digit(char_at(text, 4));
}

// 8, 9 or 10 for separated texts (digits from position 8 on); 5 to 8 for plain
// digits (digits from position 5 on), where white space on the way means 6.
int length_class(std::string_view text, bool separated) {
  if (separated) {
    int i = 8;
    while (i < 10 && is_ascii_digit(char_at(text, i))) ++i;
    return i;
  }
  int i = 5;
  while (i < 8) {
    char c = char_at(text, i);
    if (is_ascii_space(c)) return 6;
    if (!is_ascii_digit(c)) break;
    ++i;
  }
  return i;
}

const date_layout* find_layout(std::string_view text) {
  bool separated = is_separated(text);
  int length = length_class(text, separated);
  int lead = number_at(text, 0, 2);
  for (const date_layout& layout : k_date_layouts) {
    if (layout.separated == separated && length >= layout.class_low &&
        length <= layout.class_high && lead >= layout.lead_low && lead <= layout.lead_high) {
      return &layout;
    }
  }
  return nullptr;
}

// Proleptic Gregorian days since 1970-01-01, for every year.
int64_t days_from_civil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_era_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_era_year;
  return era * 146097 + day_of_era - 719468;
}

// Day number of 31 December of the year before `year`, so that adding the day
// of the year gives the date's number.
int64_t days_before_year(int year) {
  return k_day_number_1900 + days_from_civil(year, 1, 1) - days_from_civil(1900, 1, 1);
}

// Days of the months before `month` in `year`.
int days_before_month(int year, int month) {
  int total = 0;
  for (int m = 1; m < month && m <= 12; ++m) total += month_length(year, m);
  return total;
}

// One "%d" of scanf: white space, a sign, at least one digit.
bool scan_int(std::string_view text, std::size_t& at, int& out) {
  std::string_view rest = text.substr(at < text.size() ? at : text.size());
  std::size_t used = leading_number_length(rest);
  if (used == 0) return false;
  out = leading_int(rest);
  at += used;
  return true;
}

// Reads "%d%c%d%c%d"; fields after the first failure stay 0.
void scan_three_numbers(std::string_view text, int& first, int& second, int& third) {
  first = second = third = 0;
  std::size_t at = 0;
  if (!scan_int(text, at, first) || at >= text.size()) return;
  ++at;
  if (!scan_int(text, at, second) || at >= text.size()) return;
  ++at;
  scan_int(text, at, third);
}

int repair_short_year(int year) {
  if (year >= 11 && year <= 99) return year + 1900;
  if (year >= 0 && year <= 9) return year + 2000;
  return year;
}

// Value minus one, where 0 also stands for 0.
int from_plus_one(int value) { return value ? value - 1 : 0; }

// Exactly `length` digits at `at`, read into `out`.
bool fixed_number(std::string_view text, std::size_t at, std::size_t length, int& out) {
  if (at + length > text.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + length; ++i) {
    if (!is_ascii_digit(text[i])) return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

std::size_t digits_end(std::string_view text, std::size_t i) {
  while (i < text.size() && is_ascii_digit(text[i])) ++i;
  return i;
}

// "yyyy-mm-dd" or "mm-dd-yyyy" at the text's start, a day that exists.
bool read_bound_day(std::string_view text, int& year, int& month, int& day) {
  bool read = (fixed_number(text, 0, 4, year) && char_at(text, 4) == '-' &&
               fixed_number(text, 5, 2, month) && char_at(text, 7) == '-' &&
               fixed_number(text, 8, 2, day)) ||
              (fixed_number(text, 0, 2, month) && char_at(text, 2) == '-' &&
               fixed_number(text, 3, 2, day) && char_at(text, 5) == '-' &&
               fixed_number(text, 6, 4, year));
  return read && day >= 1 && day <= month_length(year, month);
}

// What a sent date gives as it is read; -1 and 0 while not (yet) given.
struct sent_parts {
  int year = -1;
  int month = 0;
  int day = 0;
  int hour = -1;
  int minute = 0;
  int second = 0;
  int meridiem = 0;  // 1 for AM, 2 for PM
  int zone = 0;      // minutes east of UTC
};

// The offset after the comment that opens at `i` (nested comments and quoted
// characters as RFC 5322 has them), or the text's end when it stays open.
std::size_t after_comment(std::string_view text, std::size_t i) {
  int depth = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '(') {
      ++depth;
    } else if (text[i] == ')' && --depth == 0) {
      return i + 1;
    }
  }
  return text.size();
}

// The month a word names: three letters or more of its English name, in any case
// ("Jan", "Sept", "January"), or 0. Other words that begin alike ("mardi",
// "martes") name none.
int month_of_word(std::string_view word) {
  static constexpr std::string_view k_months[] = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (ascii_istarts_with(k_months[m], word)) return m + 1;
  }
  return 0;
}

bool is_meridiem(std::string_view word) { return ascii_iequal(word, "AM") || ascii_iequal(word, "PM"); }

// A number of the date: the day while none is known (1-31, one or two digits),
// else the year while none is known. A year of one or two digits is 20xx below 50
// and 19xx from 50, one of three digits counts from 1900 (the obsolete forms of
// RFC 5322); more than four digits are no year.
void take_date_number(std::string_view digits, sent_parts& parts) {
  int value = 0;
  for (char c : digits.substr(0, 5)) value = value * 10 + (c - '0');
  if (digits.size() <= 2 && value >= 1 && value <= 31 && parts.day == 0) {
    parts.day = value;
  } else if (parts.year < 0 && digits.size() <= 4) {
    if (digits.size() <= 2) value += value < 50 ? 2000 : 1900;
    if (digits.size() == 3) value += 1900;
    parts.year = value;
  }
}

// "h:mm" or "hh:mm", then ":ss" and a fraction when they follow, from `i` (which
// is left after them); false when the time cannot be read.
bool read_time_of_day(std::string_view text, std::size_t& i, sent_parts& parts) {
  int* fields[] = {&parts.hour, &parts.minute, &parts.second};
  for (std::size_t f = 0; f < 3; ++f) {
    std::size_t end = digits_end(text, i);
    if (end == i || end - i > 2) return false;
    *fields[f] = leading_int(text.substr(i, end - i));
    i = end;
    if (f == 2 || char_at(text, i) != ':' || !is_ascii_digit(char_at(text, i + 1))) {
      if (f == 0) return false;
      break;
    }
    ++i;
  }
  if (char_at(text, i) == '.' && is_ascii_digit(char_at(text, i + 1))) i = digits_end(text, i + 1);
  return true;
}

// The sent time of the parts read, when they make one: a day that exists and a
// time of day (an AM or PM hour is 1-12; 12 AM is 00).
bool parts_to_seconds(sent_parts parts, int64_t& seconds) {
  if (parts.year < 1 || parts.day < 1 || parts.day > month_length(parts.year, parts.month) ||
      parts.hour < 0) {
    return false;
  }
  if (parts.meridiem != 0) {
    if (parts.hour < 1 || parts.hour > 12) return false;
    parts.hour = parts.hour % 12 + (parts.meridiem == 2 ? 12 : 0);
  }
  if (parts.hour > 23 || parts.minute > 59 || parts.second > 60) return false;
  seconds = calendar_utc_seconds(parts.year, parts.month, parts.day, parts.hour, parts.minute,
                                 parts.second) -
            parts.zone * int64_t{60};
  return true;
}

}  // namespace

std::string narrow_text(std::string_view text) { return std::string(text.substr(0, 1039)); }

void split_date_text(std::string_view text, int& year, int& month, int& day) {
  year = 0;
  month = 0;
  day = 0;
  if (const date_layout* layout = find_layout(text)) {
    year = number_at(text, static_cast<std::size_t>(layout->year_at),
                     static_cast<std::size_t>(layout->year_length));
    month = number_at(text, static_cast<std::size_t>(layout->month_at), 2);
    day = number_at(text, static_cast<std::size_t>(layout->day_at), 2);
  }
  if (year < 1900) year += 1900;
}

void split_bound_date(std::string_view text, int& year, int& month, int& day) {
  split_date_text(text, year, month, day);
  // Only a year of one or two digits' worth is repaired; a text of no known
  // layout keeps 1900.
  const date_layout* layout = find_layout(text);
  if (!layout) return;
  int read = number_at(text, static_cast<std::size_t>(layout->year_at),
                       static_cast<std::size_t>(layout->year_length));
  if (read >= 0 && read <= 99) {
    year = repair_short_year(read);
    if (year < 1900) year += 1900;
  }
}

int64_t days_since_date(std::string_view text) {
  int first, second, third;
  scan_three_numbers(text, first, second, third);
  char normalised[48];
  int n = std::snprintf(normalised, sizeof normalised, "%02d-%02d-%04d", first, second,
                        repair_short_year(third));
  std::size_t length = n < 0 ? 0 : static_cast<std::size_t>(n);
  if (length >= sizeof normalised) length = sizeof normalised - 1;
  int year, month, day;
  split_date_text(std::string_view(normalised, length), year, month, day);

  int64_t now = g_platform.current_time();
  int64_t midnight = make_local_time(year, month, day, 0, 0, 0);
  if (midnight != -1) return (now - midnight) / 86400;
  // The run-time cannot form that day: count whole calendar days instead.
  calendar_time today;
  if (!g_platform.seconds_to_calendar(now, true, today)) return 0;
  return day_number(today.year, today.month, today.day) - day_number(year, month, day);
}

int64_t make_local_time(int year, int month, int day, int hour1, int minute1, int second1) {
  int full_year = year >= 1900 ? year : year + 1900;
  int64_t out = 0;
  if (!g_platform.local_calendar_to_seconds(full_year, month, day, from_plus_one(hour1),
                                            from_plus_one(minute1), from_plus_one(second1), out)) {
    return -1;
  }
  return out;
}

file_ticks to_file_time(int64_t seconds) {
  return static_cast<file_ticks>((seconds + k_seconds_1601_to_1970) * k_ticks_per_second);
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int month_length(int year, int month) {
  if (month < 1 || month > 12) return 0;
  return k_month_lengths[is_leap_year(year) ? 1 : 0][month];
}

day_of_year_result day_of_year(int year, int day, int month, int& total) {
  total = 0;
  if (month > 12 || day > 31) return day_of_year_result::out_of_range;
  // A negative month would index before the table; such a date does not exist.
  if (month < 0 || day < 0 || day > month_length(year, month)) {
    return day_of_year_result::invalid_date;
  }
  total = day + days_before_month(year, month);
  return day_of_year_result::ok;
}

std::string day_of_year_text(int year, int day, int month) {
  int total = 0;
  if (day_of_year(year, day, month, total) != day_of_year_result::ok) return std::string();
  char text[8];
  int n = std::snprintf(text, sizeof text, "%03d", total);
  return std::string(text, n < 0 ? 0 : (n > 3 ? 3 : static_cast<std::size_t>(n)));
}

int64_t day_number(int year, int month, int day) {
  if (month > 12 || day > 31) return 0;
  return days_before_year(year) + day + days_before_month(year, month);
}

int64_t calendar_utc_seconds(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01 by the civil calendar, counted in 400-year eras from 1 March
  // so that the leap day ends its year.
  int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t year_of_era = y - era * 400;
  int64_t shifted_month = month > 2 ? month - 3 : month + 9;
  int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  int64_t days = era * 146097 + day_of_era - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

calendar_time utc_calendar_of(int64_t seconds) {
  int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  int64_t of_day = seconds - days * 86400;
  // The steps of calendar_utc_seconds backwards, from 1 March of era 0.
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t day_of_era = days - era * 146097;
  int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t shifted_month = (5 * day_of_year + 2) / 153;
  calendar_time out;
  out.day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  out.month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  out.year = static_cast<int>(year_of_era + era * 400 + (out.month <= 2 ? 1 : 0));
  out.hour = static_cast<int>(of_day / 3600);
  out.minute = static_cast<int>(of_day / 60 % 60);
  out.second = static_cast<int>(of_day % 60);
  return out;
}

int zone_offset_minutes(std::string_view zone) {
  while (!zone.empty() && is_ascii_space(zone.front())) zone.remove_prefix(1);
  if (zone.size() >= 5 && (zone[0] == '+' || zone[0] == '-') && is_ascii_digit(zone[1]) &&
      is_ascii_digit(zone[2]) && is_ascii_digit(zone[3]) && is_ascii_digit(zone[4])) {
    int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
    int minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
    // No zone is that far off: the offset is not applied, as if none were given.
    if (hours > 23 || minutes > 59) return 0;
    return (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
  }
  std::size_t length = 0;
  while (length < zone.size() && is_ascii_letter(zone[length])) ++length;
  std::string_view name = zone.substr(0, length);
  static constexpr struct {
    const char* name;
    int hours;
  } k_named_zones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                       {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& named : k_named_zones) {
    if (ascii_iequal(name, named.name)) return named.hours * 60;
  }
  return 0;
}

bool sent_time_of(std::string_view value, int64_t& seconds) {
  sent_parts parts;
  // The token right after the time of day (and its AM or PM) is its zone.
  bool zone_next = false;
  std::size_t i = 0;
  while (i < value.size()) {
    char c = value[i];
    std::size_t end = i + 1;
    if (c == '(') {
      end = after_comment(value, i);
    } else if (is_ascii_digit(c)) {
      end = digits_end(value, i);
      if (end < value.size() && value[end] == ':' && parts.hour < 0) {
        if (!read_time_of_day(value, i, parts)) return false;
        zone_next = true;
        continue;
      }
      take_date_number(value.substr(i, end - i), parts);
      zone_next = false;
    } else if (is_ascii_letter(c)) {
      while (end < value.size() && is_ascii_letter(value[end])) ++end;
      std::string_view word = value.substr(i, end - i);
      if (parts.hour >= 0 && parts.meridiem == 0 && is_meridiem(word)) {
        parts.meridiem = ascii_lower(word[0]) == 'a' ? 1 : 2;
      } else if (zone_next) {
        parts.zone = zone_offset_minutes(word);
        zone_next = false;
      } else if (parts.month == 0) {
        parts.month = month_of_word(word);
      }
    } else if ((c == '+' || c == '-') && zone_next) {
      parts.zone = zone_offset_minutes(value.substr(i));
      end = digits_end(value, i + 1);
      zone_next = false;
    }
    i = end;
  }
  return parts_to_seconds(parts, seconds);
}

bool read_date_bound(std::string_view text, int64_t& seconds) {
  int year = 0, month = 0, day = 0;
  if (!read_bound_day(text, year, month, day)) return false;
  int hour = 0, minute = 0, second = 0, zone = 0;
  std::size_t i = 10;
  if (i < text.size()) {
    if (ascii_lower(text[i]) != 't' || !fixed_number(text, i + 1, 2, hour) ||
        char_at(text, i + 3) != ':' || !fixed_number(text, i + 4, 2, minute)) {
      return false;
    }
    i += 6;
    if (char_at(text, i) == ':') {
      if (!fixed_number(text, i + 1, 2, second)) return false;
      i += 3;
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    if (ascii_lower(char_at(text, i)) == 'z') {
      ++i;
    } else if (char_at(text, i) == '+' || char_at(text, i) == '-') {
      int zone_hours = 0, zone_minutes = 0;
      std::size_t minutes_at = char_at(text, i + 3) == ':' ? i + 4 : i + 3;
      if (!fixed_number(text, i + 1, 2, zone_hours) ||
          !fixed_number(text, minutes_at, 2, zone_minutes) || zone_hours > 23 ||
          zone_minutes > 59) {
        return false;
      }
      zone = (text[i] == '-' ? -1 : 1) * (zone_hours * 60 + zone_minutes);
      i = minutes_at + 2;
    }
  }
  if (i != text.size()) return false;
  seconds = calendar_utc_seconds(year, month, day, hour, minute, second) - zone * int64_t{60};
  return true;
}

void pause_seconds(int n) {
  // The wait lets a person read a warning; in a script or a pipeline it only costs.
  if (n <= 0 || !g_platform.is_terminal(stderr)) return;
  // Beyond about three weeks the milliseconds would not fit an int.
  if (n > 2000000) n = 2000000;
  g_platform.sleep_milliseconds(n * 1000);
}
