// The depth-first walk of one starting directory.
#pragma once

#include <string>
#include <string_view>

// Walks `dir` (long-path prefix, trailing separator): subdirectories first, then
// the directory's files once per file-type pattern. Counts in the counting pass,
// hands files to select_file in the processing pass.
void walk_directory(const std::string& dir);
// Enumerates one directory's files for every file-type pattern.
void scan_directory_files(const std::string& dir);
// True when `name`, upper-cased, matches one of the exclude patterns.
bool is_excluded(std::string_view name);
