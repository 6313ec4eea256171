#include "settings/setters.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/path_lists.h"
#include "settings/run_log_request.h"
#include "settings/run_settings.h"
#include "settings/setting_messages.h"

namespace {

// The comment buffer holds 128 characters with its terminator.
constexpr std::size_t k_comment_limit = 127;

// The first `limit` characters of `text`, never cutting a character in two.
std::string_view first_characters(std::string_view text, std::size_t limit) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size() && n < limit; ++n) i += utf8_sequence_length(text, i);
  return text.substr(0, i);
}

// A date bound that does not exist would silently select the wrong files.
void refuse_impossible_date(int year, int month, int day) {
  int total = 0;
  bool exists = month <= 12 && day <= 31 &&
                day_of_year(year, day, month, total) != day_of_year_result::invalid_date;
  if (exists) return;
  say_setting_formatted("%d/%d/%d is not a valid date\n", month, day, year);
  end_start_up(k_exit_illegal_option);
}

// What an open log is told before it closes, by where the new name came from.
const char* run_log_farewell(run_log_source source) {
  switch (source) {
    case run_log_source::option_letter:
      return "This file closed.\nAccounting file overridden by option -1 file pointing to %s\n";
    case run_log_source::ini_file:
      return "This file closed.\nAccounting file overridden by .ini file pointing to %s\n";
    case run_log_source::long_option:
      break;
  }
  return "Previous log closed, and %s opened\n";
}

// A value that the leading-number rule reads as no number would count as 0 days
// and select nothing without a word.
void refuse_unreadable_age(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && is_ascii_space(value[i])) ++i;
  if (i < value.size() && value[i] == '+') ++i;
  if (i < value.size() && is_ascii_digit(value[i])) return;
  say_setting(value);
  say_setting(" is neither a number of days nor a date\n");
  end_start_up(k_exit_illegal_option);
}

}  // namespace

void set_scanner_count(std::string_view value) {
  while (!value.empty() && is_ascii_space(value.back())) value.remove_suffix(1);
  while (!value.empty() && is_ascii_space(value.front())) value.remove_prefix(1);
  int count = 0;
  bool whole = !value.empty();
  for (char c : value) {
    whole = whole && is_ascii_digit(c);
    // Past the most there is no need to count on: the value is refused anyway.
    if (whole && count <= k_most_scanners) count = count * 10 + (c - '0');
  }
  if (whole && count >= 1 && count <= k_most_scanners) {
    g_settings->scanners = count;
    return;
  }
  say_setting("\nSCANNERS=");
  say_setting(value);
  say_setting_formatted(" is not a number of scanners: give 1 to %d\n", k_most_scanners);
  end_start_up(k_exit_illegal_option);
}

std::string full_name(std::string_view name) {
  std::string full;
  if (g_platform.full_path(std::string(name), full)) return full;
  return std::string(name);
}

int single_character_code(std::string_view value) {
  if (value.empty()) return -1;
  std::size_t length = utf8_sequence_length(value);
  if (length != value.size()) return -1;
  return static_cast<int>(utf8_code(value, 0, length));
}

int first_character_code(std::string_view text) {
  return static_cast<int>(utf8_code(text, 0, utf8_sequence_length(text)));
}

void store_comment_text(std::string_view text) {
  g_comment_text.assign(first_characters(text, k_comment_limit));
}

void refuse_too_many_excludes() {
  say_setting("\nYou have too many -eXclude file types.\n");
  say_setting_formatted("Max exclude types is %d\n", static_cast<int>(k_exclude_limit));
  end_start_up(k_exit_illegal_option);
}

void set_size_bound(bool greater, std::string_view value) {
  (greater ? g_settings->size_greater : g_settings->size_less) = 1;
  (greater ? g_greater_than_size : g_less_than_size) = leading_number(value);
}

bool take_time_letters(std::string& value) {
  std::size_t end = std::string::npos;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char letter = ascii_lower(value[i]);
    if (letter != 'a' && letter != 'c' && letter != 'w') continue;
    if (letter == 'a') g_age_times.access = true;
    if (letter == 'c') g_age_times.creation = true;
    if (letter == 'w') g_age_times.written = true;
    if (end == std::string::npos) end = i;
  }
  if (end != std::string::npos) value.resize(end);
  return end != std::string::npos;
}

void set_age_bound(std::string value, bool older) {
  refuse_unreadable_age(value);
  g_settings->age_filter = 1;
  int& days = older ? g_older_than_days : g_newer_than_days;
  bound_form& form = older ? g_age_bound_forms.older : g_age_bound_forms.newer;
  if (value.find_first_of("-/\\") == std::string::npos) {
    days = leading_int(value);
    form = bound_form::days;
    return;
  }
  form = bound_form::date;
  (older ? g_settings->older_than_set : g_settings->newer_than_set) = 1;
  if (!take_time_letters(value)) g_age_times.written_by_default = true;
  std::string narrow = narrow_text(value);
  int year = 0;
  int month = 0;
  int day = 0;
  split_bound_date(narrow, year, month, day);
  refuse_impossible_date(year, month, day);
  days = saturated_int(days_since_date(narrow));
  file_ticks bound = to_file_time(make_local_time(year, month, day, 0, 0, 0));
  (older ? g_older_than_time : g_newer_than_time) = bound;
}

void set_sent_bound(std::string_view value, bool after, std::string_view key) {
  // White space around the date (a blank or CR an INI line keeps) is no part of it.
  std::string_view date = value;
  while (!date.empty() && is_ascii_space(date.front())) date.remove_prefix(1);
  while (!date.empty() && is_ascii_space(date.back())) date.remove_suffix(1);
  int64_t seconds = 0;
  if (!read_date_bound(date, seconds)) {
    say_setting("\nmailsift: ");
    say_setting(value);
    say_setting(" is not a date (yyyy-mm-dd, mm-dd-yyyy, optionally Thh:mm[:ss] and a zone)\n");
    end_start_up(k_exit_illegal_option);
  }
  (after ? g_settings->sent_after_set : g_settings->sent_before_set) = 1;
  (after ? g_sent_after : g_sent_before) = seconds;
  std::string& named = after ? g_sent_after_named : g_sent_before_named;
  named.assign(key);
  named.push_back('=');
  named.append(date);
}

void refuse_crossed_sent_bounds() {
  if (!g_settings->sent_after_set || !g_settings->sent_before_set || g_sent_after < g_sent_before)
    return;
  say_setting("\nmailsift: ");
  say_setting(g_sent_after_named);
  say_setting(" is not before ");
  say_setting(g_sent_before_named);
  say_setting("\n");
  end_start_up(k_exit_illegal_option);
}

void apply_age_value(std::string value, bool older) {
  (older ? g_settings->older_than_set : g_settings->newer_than_set) = 1;
  set_age_bound(std::move(value), older);
}

void override_run_log(std::string_view name, run_log_source source) {
  g_settings->accounting = 1;
  g_acct_name = full_name(name);
  request_run_log_give_way(g_acct_name, run_log_farewell(source));
}
