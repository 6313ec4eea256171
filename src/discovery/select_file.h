// Per-file selection: look-up, time conversion, age/date, size and attribute rules.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "platform/platform.h"

// Where the selection hands a file it chose: the listing, as run/ wires it.
// Discovery knows no more of what happens to the file.
struct file_sink {
  // Waits until one more file or directory may be opened beside the
  // `directories_held` the walk holds open; returns the stop of what was done
  // meanwhile (go_on when none).
  stop_reason (*make_room_to_open)(int64_t directories_held);
  // Takes one chosen file, opened here (k_no_file when its open failed; the sink
  // closes it); `is_file` when it is no directory. Returns the listing's stop.
  stop_reason (*take_file)(const std::string& path, read_handle file, int64_t size,
                           const file_dates& dates, bool is_file);
};

// Whether a directory entry is "." or "..", which name no file or subdirectory
// of its own.
bool is_dot_entry(std::string_view name);

// Leaves this run's listing and run log (either may be null or no regular file)
// out of every later selection, silently, whatever names lead to them.
void leave_out_own_files(std::FILE* listing, std::FILE* run_log);
// Decides whether one candidate file is listed, and if so counts it and hands
// it to `sink`. `dir` carries the long-path prefix and ends in a separator.
// Files that vanished, fail a filter or cannot be read are skipped silently.
// Returns the scan's stop, or out_of_memory when a look-up or open met memory or
// descriptors run out; go_on otherwise.
stop_reason select_file(const file_sink& sink, const std::string& dir, const std::string& name);
// The same for a file a source list names: one that does not exist is named on
// standard error and counted, as an unreadable one is.
stop_reason select_listed_file(const file_sink& sink, const std::string& dir,
                               const std::string& name);
// The same for a file the walk found: an entry the directory listing gave as a
// regular file is opened first and looked up through the open file. The walk
// holds `directories_held` directories open meanwhile.
stop_reason select_walked_file(const file_sink& sink, const std::string& dir,
                               const dir_entry& entry, int64_t directories_held);

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
