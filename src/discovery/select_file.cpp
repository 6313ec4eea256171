#include "discovery/select_file.h"

// Stand-ins until the file selection exists.
void select_file(const std::string& dir, const std::string& name) {
  (void)dir;
  (void)name;
}

file_dates convert_file_times(const dir_entry& entry, bool in_utc) {
  (void)entry;
  (void)in_utc;
  return file_dates{};
}

bool get_file_dates(const std::string& path, file_dates& out) {
  (void)path;
  out = file_dates{};
  return false;
}

bool file_age_days(const std::string& path, int letter, int64_t& age) {
  (void)path;
  (void)letter;
  age = 0;
  return false;
}

bool find_by_wildcard(const std::string& path, const std::string& name, dir_entry& out) {
  (void)path;
  (void)name;
  (void)out;
  return false;
}
