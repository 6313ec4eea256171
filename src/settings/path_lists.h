// The starting-path, file-type and exclude lists and the operations that fill them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Lists hold at most this many entries (80 slots, one kept empty as the end).
inline constexpr std::size_t k_list_limit = 79;
// The exclude list holds at most 80 entries.
inline constexpr std::size_t k_exclude_limit = 80;

// Starting directories: the long-path prefix plus the full path, no trailing
// separator (the walk appends one before walking).
extern std::vector<std::string> g_paths;
// File-type patterns in the order given, without duplicates.
extern std::vector<std::string> g_filetypes;
// Upper-cased exclude patterns.
extern std::vector<std::string> g_excludes;
extern int g_exclude_count;

// The long-path form of a full Windows path: "\\?\" before it, or for a network
// path "\\server\share..." the form "\\?\UNC\server\share...".
std::string windows_long_path(std::string_view full);
// Adds a starting path (made full, one trailing separator removed, stored with
// the long-path prefix) unless an entry equal to it ignoring case is present.
// A 80th entry is refused: message on standard output, run ends with reason 6.
void add_path(std::string_view path);
// A bare path word: a directory, or a directory plus a file pattern.
void add_path_argument(std::string_view word);
// Adds a file-type pattern unless an identical one is present; limit as add_path.
void add_filetype(std::string_view pattern);
// Adds the current working directory as a starting path.
void add_current_directory();
// Upper-cases `pattern` and appends it to the exclude list; false when the list is full.
bool add_exclude(std::string_view pattern);
// Empties all three lists (start-up and tests).
void clear_path_lists();
