// The depth-first walk of one starting directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/stops.h"

// What the walk has seen so far in this run.
struct walk_totals {
  int counting = 1;  // 1 while the counting pass runs
  // Files and bytes seen by the counting pass.
  uint32_t counted_files = 0;
  uint64_t counted_bytes = 0;
  // Longest directory-plus-name length seen by the counting pass (auto width only).
  uint32_t longest_path = 0;
  // Directories entered in the processing pass.
  int32_t dir_count = 0;
  // Current nesting depth of the walk.
  int32_t depth = 0;
};

// The walk of this run; one walk at a time.
extern walk_totals g_walk;

// Walks `dir` (long-path prefix, trailing separator): subdirectories first, then
// the directory's files once per file-type pattern. Counts in the counting pass,
// hands files to select_file in the processing pass. Returns at once, with the
// reason, when the user interrupts, memory or descriptors run out or the scan of
// a file stops; go_on after the whole tree.
stop_reason walk_directory(const std::string& dir);
// Enumerates one directory's files for every file-type pattern; stops as above.
stop_reason scan_directory_files(const std::string& dir);
// True when `name`, upper-cased, matches one of the exclude patterns.
bool is_excluded(std::string_view name);
