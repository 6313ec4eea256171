#include "discovery/select_file.h"

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "INCLUDE_U/unreadable.h"
#include "platform/platform.h"
#include "settings/run_settings.h"

namespace {

// Ticks of 1602-01-01 00:00 UTC: every earlier time lies in 1601, the year a
// time that was never set converts to.
constexpr file_ticks k_ticks_1602 = 365ULL * 86400ULL * static_cast<file_ticks>(k_ticks_per_second);

// A time that was never set (raw 0, or anything in 1601) shows as 1980 with
// month and day 0 on every platform and in every zone; a time that cannot be
// split is shown the same way.
calendar_time never_set_parts() {
  calendar_time parts;
  parts.year = 1980;
  return parts;
}

calendar_time convert_one_time(file_ticks ticks, bool in_utc) {
  calendar_time t;
  if (ticks < k_ticks_1602 || !g_platform.ticks_to_calendar(ticks, !in_utc, t) || t.year <= 1601) {
    return never_set_parts();
  }
  // The weekday is not shown, and an hour past 24 shows as midnight.
  t.weekday = 0;
  if (t.hour > 24) t.hour = t.minute = t.second = 0;
  return t;
}

// What the filters and the record use: the raw times and the last-write time as
// calendar parts. The other parts serve no one here, and each would cost a
// time-zone conversion per file.
file_dates listing_dates(const dir_entry& entry, bool in_utc) {
  file_dates dates;
  dates.write_time = convert_one_time(entry.write_ticks, in_utc);
  dates.create_raw = entry.create_ticks;
  dates.access_raw = entry.access_ticks;
  dates.write_raw = entry.write_ticks;
  return dates;
}

int64_t day_number_of(const calendar_time& parts) {
  return day_number(parts.year, parts.month, parts.day);
}

bool raw_time_within_bounds(file_ticks raw) {
  return raw > g_newer_than_time && raw < g_older_than_time;
}

// The age bounds in days. A newer bound applies only when it was given: its
// default of 8,000 days would drop old mail that nobody asked to leave out.
bool passes_day_bounds(int64_t age, bool older, bool newer) {
  if (older && age < g_older_than_days) return false;
  return !newer || g_age_bound_forms.newer != bound_form::days || age < g_newer_than_days;
}

// Dates without time letters compare the last-write time with their bounds, as
// the letter w does; a bound given in days keeps its test in days.
bool passes_unlettered_bounds(const std::string& path, file_ticks written) {
  bool older_in_days = g_age_bound_forms.older == bound_form::days;
  bool newer_in_days = g_age_bound_forms.newer == bound_form::days;
  if (!older_in_days && written >= g_older_than_time) return false;
  if (!newer_in_days && written <= g_newer_than_time) return false;
  if (!older_in_days && !newer_in_days) return true;
  int64_t age = 0;
  if (!file_age_days(path, g_settings->time_type, age)) return false;
  return passes_day_bounds(age, older_in_days, newer_in_days);
}

// The date bounds (with time letters) or the age in days (without them).
bool passes_age_filter(const std::string& path, const file_dates& dates) {
  const age_time_flags& letters = g_age_times;
  bool any_letter = letters.access || letters.creation || letters.written;
  if (any_letter) {
    if (!g_settings->older_than_set && !g_settings->newer_than_set) return true;
    bool written = letters.written || letters.written_by_default;
    return (letters.access && raw_time_within_bounds(dates.access_raw)) ||
           (letters.creation && raw_time_within_bounds(dates.create_raw)) ||
           (written && raw_time_within_bounds(dates.write_raw));
  }
  if (letters.written_by_default) return passes_unlettered_bounds(path, dates.write_raw);
  int64_t age = 0;
  // A file that vanished since its look-up has no age: it is skipped like one
  // that cannot be found.
  if (!file_age_days(path, g_settings->time_type, age)) return false;
  return passes_day_bounds(age, true, true);
}

bool passes_size_filters(int64_t size) {
  if (g_settings->size_greater && size < g_greater_than_size) return false;
  if (g_settings->size_less && size > g_less_than_size) return false;
  return true;
}

// Sets, then clears, the masked bits; failures are ignored and the computed
// value stands.
uint32_t change_attributes(const std::string& path, uint32_t attributes) {
  uint32_t value = attributes | g_attributes_to_set;
  g_platform.set_attributes(path, value);
  value &= ~g_attributes_to_clear;
  g_platform.set_attributes(path, value);
  return value;
}

// One UTF-16 unit of Windows per "?" there, one character here: POSIX patterns
// match whole characters.
void append_wildcards_for(std::string& out, unsigned char lead) {
  out += '?';
  if (k_windows && lead >= 0xF0) out += '?';
}

}  // namespace

file_dates convert_file_times(const dir_entry& entry, bool in_utc) {
  file_dates dates = listing_dates(entry, in_utc);
  dates.access_time = convert_one_time(entry.access_ticks, in_utc);
  dates.create_time = convert_one_time(entry.create_ticks, in_utc);
  return dates;
}

bool get_file_dates(const std::string& path, file_dates& out) {
  dir_entry entry;
  if (!g_platform.lookup_file(path, entry)) return false;
  out = convert_file_times(entry, false);
  return true;
}

bool file_age_days(const std::string& path, int letter, int64_t& age) {
  calendar_time now;
  if (!g_platform.seconds_to_calendar(g_platform.current_time(), true, now)) return false;
  file_dates dates;
  if (!get_file_dates(path, dates)) return false;
  const calendar_time& chosen = (letter == 'a' || letter == 'A')   ? dates.access_time
                             : (letter == 'c' || letter == 'C') ? dates.create_time
                                                                : dates.write_time;
  age = day_number(now.year, now.month, now.day) - day_number_of(chosen);
  return true;
}

bool find_by_wildcard(const std::string& path, const std::string& name, dir_entry& out) {
  std::string pattern;
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (byte < 0x80) {
      pattern += path[i];
    } else if (!is_utf8_continuation(byte)) {
      // U+0080 is the one character above 127 that stays itself.
      bool is_u0080 =
          byte == 0xC2 && i + 1 < path.size() && static_cast<unsigned char>(path[i + 1]) == 0x80;
      if (is_u0080)
        pattern += path.substr(i, 2);
      else
        append_wildcards_for(pattern, byte);
    }
  }
  dir_entry entry;
  find_state* search = g_platform.find_first(pattern, entry);
  if (!search) return false;
  // Only the file itself will do: another name that fits the pattern belongs to
  // a different file, whose size and dates must not be listed under this name.
  bool found = false;
  do {
    found = entry.name == name;
  } while (!found && g_platform.find_next(search, entry));
  g_platform.find_close(search);
  if (found) out = entry;
  return found;
}

namespace {

// This run's own output file and run log, by device and file identity: a tree
// that holds them must not list their half-written selves, under any name.
struct own_files {
  dir_identity ids[2];
  std::size_t count = 0;
};
own_files s_own_files;

bool is_own_identity(const dir_identity& id) {
  for (std::size_t i = 0; i < s_own_files.count; ++i) {
    if (s_own_files.ids[i] == id) return true;
  }
  return false;
}

// The identity comes with the look-up where the system gives it (POSIX). A
// Windows directory search has none, and no other fact of its entry tells a file
// apart from the run's own: their size and times change while the run writes,
// and a directory entry may show them out of date.
bool is_own_file(const std::string& path, read_handle file, const dir_entry& entry) {
  if (s_own_files.count == 0) return false;
  if (entry.identity_known) return is_own_identity(entry.identity);
  dir_identity id;
  bool known = file != k_no_file ? g_platform.read_handle_identity(file, id)
                                 : g_platform.directory_identity(path, id);
  return known && is_own_identity(id);
}

void close_if_open(read_handle file) {
  if (file != k_no_file) g_platform.close_file(file);
}

// The file's entry by its path, else by the wildcard search that finds names the
// system spells differently. A file that vanished is skipped without a word; any
// other failure is named (and stops the run when memory or descriptors ran out).
bool look_up(const std::string& path, const std::string& name, bool missing_counts,
             dir_entry& entry) {
  if (g_platform.lookup_file(path, entry)) return true;
  std::string reason;
  failure_kind kind = g_platform.last_failure(reason);
  if (kind != failure_kind::no_resources && find_by_wildcard(path, name, entry)) return true;
  act_on_failure(path, kind, reason, missing_counts);
  return false;
}

// Opens a file that passed every filter. Reading refused: named and skipped, like
// an unreadable directory; any other failure is named and still gets its whole
// record, from the start values.
bool open_selected(const std::string& path, bool is_file, read_handle& file) {
  file = g_platform.open_for_reading(path);
  if (file != k_no_file || !is_file) return true;
  std::string reason;
  failure_kind kind = g_platform.last_failure(reason);
  bool refused = !g_platform.can_read_file(path);
  act_on_failure(path, kind == failure_kind::none ? failure_kind::other : kind, reason, true);
  return !refused;
}

// How a candidate came: from a directory listing that gave it as a regular file,
// and whether a missing file is reported (a source list names its files); the
// directories the walk holds open meanwhile.
struct candidate_source {
  bool listed_as_file = false;
  bool missing_counts = false;
  int64_t directories_held = 0;
};

stop_reason select(const file_sink& sink, const std::string& dir, const std::string& name,
                   candidate_source source) {
  if (is_dot_entry(name)) return stop_reason::go_on;
  // Files on their way to scanners hold descriptors: one more is opened only
  // where the limit leaves room for it beside the walk's directories.
  if (stop_reason stop = sink.make_room_to_open(source.directories_held);
      stop != stop_reason::go_on)
    return stop;
  // The complete path and the entry are reused from file to file, so that a file
  // costs no allocation here.
  static std::string path;
  static dir_entry entry;
  path.assign(dir);
  path.append(name);
  // Opening first spares walking the path twice; what cannot be opened that way
  // is looked up by name, as everything else is.
  read_handle file = source.listed_as_file ? g_platform.open_and_look_up(path, entry) : k_no_file;
  if (file == k_no_file && !look_up(path, name, source.missing_counts, entry)) {
    return failure_stop();
  }
  if (is_own_file(path, file, entry)) {
    close_if_open(file);
    return stop_reason::go_on;
  }
  file_dates dates = listing_dates(entry, g_settings->zulu != 0);
  int64_t size = entry.size;
  uint32_t attributes = entry.attributes;
  bool passes =
      (!g_settings->age_filter || passes_age_filter(path, dates)) && passes_size_filters(size);
  if (passes && g_settings->change_attributes) {
    attributes = change_attributes(path, attributes);
    passes = g_settings->directory_mode <= 1 || (attributes & k_attr_directory) != 0;
  }
  if (!passes) {
    close_if_open(file);
    return stop_reason::go_on;
  }
  bool is_file = (attributes & k_attr_directory) == 0;
  bool opened = file != k_no_file || open_selected(path, is_file, file);
  if (failure_stop() != stop_reason::go_on) {
    close_if_open(file);
    return failure_stop();
  }
  if (!opened) return stop_reason::go_on;
  return sink.take_file(path, file, size, dates, is_file);
}

}  // namespace

void leave_out_own_files(std::FILE* listing, std::FILE* run_log) {
  s_own_files.count = 0;
  for (std::FILE* stream : {listing, run_log}) {
    if (g_platform.stream_identity(stream, s_own_files.ids[s_own_files.count])) ++s_own_files.count;
  }
}

stop_reason select_file(const file_sink& sink, const std::string& dir, const std::string& name) {
  return select(sink, dir, name, {});
}

stop_reason select_listed_file(const file_sink& sink, const std::string& dir,
                               const std::string& name) {
  return select(sink, dir, name, {.missing_counts = true});
}

stop_reason select_walked_file(const file_sink& sink, const std::string& dir,
                               const dir_entry& entry, int64_t directories_held) {
  return select(sink, dir, entry.name,
                {.listed_as_file = (entry.attributes & k_attr_directory) == 0,
                 .directories_held = directories_held});
}

bool is_dot_entry(std::string_view name) { return name == "." || name == ".."; }
