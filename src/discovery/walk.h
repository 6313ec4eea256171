// The depth-first walk of one starting directory.
#pragma once

#include <string>
#include <string_view>

#include "INCLUDE_U/stops.h"

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
