// The depth-first walk of one starting directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/stops.h"
#include "discovery/select_file.h"
#include "platform/platform.h"

// What the walk has seen so far in this run.
struct walk_totals {
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

// What the walk does with what it finds: the walk only enumerates. The counting
// pass counts files and sizes; the processing pass selects files and hands them to
// the sink run/ wires to the listing.
struct walk_visitor {
  // Each file found (no directory): its directory (long-path prefix, trailing
  // separator), its entry, and the directories the walk holds open meanwhile.
  stop_reason (*file)(const walk_visitor& self, const std::string& dir, const dir_entry& entry,
                      int64_t directories_held);
  // Whether `file` needs the entry's size and times (a look-up per file) or only its name.
  bool needs_sizes;
  // Whether the walk counts the directories it enters and names those it cannot
  // read. The counting pass leaves both to the processing pass, so that nothing
  // is named twice, but stops as soon as memory or descriptors run out.
  bool reports_directories;
  // Where the selection hands the files it chose; null while counting.
  const file_sink* sink;
};

// Counts files, bytes and (auto width) the longest path into g_walk; no excludes.
walk_visitor counting_visitor();
// Leaves out excluded names and hands every other file to the selection, which
// passes what it chose to `sink`.
walk_visitor selecting_visitor(const file_sink& sink);

// Walks `dir` (long-path prefix, trailing separator): subdirectories first, then
// the directory's files once per file-type pattern, each handed to `visit`.
// Returns at once, with the reason, when the user interrupts, memory or
// descriptors run out or the visitor stops; go_on after the whole tree.
stop_reason walk_directory(const std::string& dir, const walk_visitor& visit);
// Enumerates one directory's files for every file-type pattern; stops as above.
stop_reason scan_directory_files(const std::string& dir, const walk_visitor& visit);
// True when `name`, upper-cased, matches one of the exclude patterns.
bool is_excluded(std::string_view name);
