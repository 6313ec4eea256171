// Per-file selection: look-up, time conversion, age/date, size and attribute rules.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Calendar parts of one file time.
struct date_parts {
  int32_t month = 0;
  int32_t day = 0;
  int32_t year = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

// The three times of one file, as calendar parts and as raw ticks (UTC).
struct file_dates {
  date_parts write_time;
  date_parts access_time;
  date_parts create_time;
  file_ticks create_raw = 0;
  file_ticks access_raw = 0;
  file_ticks write_raw = 0;
};

// Decides whether one candidate file is listed, and if so counts it and hands
// it to scan_message. `dir` carries the long-path prefix and ends in a separator.
// Files that vanished, fail a filter or cannot be read are skipped silently.
void select_file(const std::string& dir, const std::string& name);
// The same for a file the walk found: an entry the directory listing gave as a
// regular file is opened first and looked up through the open file.
void select_walked_file(const std::string& dir, const dir_entry& entry);

// The three times of an entry as file_dates, in UTC or local time.
file_dates convert_file_times(const dir_entry& entry, bool in_utc);
// The file's dates in local time; false when the file cannot be found.
bool get_file_dates(const std::string& path, file_dates& out);
// Whole days between today's local date and the chosen time of the file at
// `path` ('a' access, 'c' creation, else written); false when the file vanished.
bool file_age_days(const std::string& path, int letter, int64_t& age);
// Fallback look-up with every non-ASCII character replaced by '?'; only an
// entry of exactly `name` counts. False when there is none.
bool find_by_wildcard(const std::string& path, const std::string& name, dir_entry& out);
