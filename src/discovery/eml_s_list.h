// Source-list mode: list the files named in a text file.
#pragma once

#include <cstdio>
#include <string>

#include "INCLUDE_U/stops.h"
#include "discovery/walk.h"

// Longest list line and longest full path (long-path prefix included) taken, in bytes.
inline constexpr std::size_t k_list_line_limit = 32767;
inline constexpr std::size_t k_list_path_limit = 32767;

// Receives one named file: the directory (long-path prefix, ending in a separator)
// and the file name.
using list_entry_handler = void (*)(const std::string& dir, const std::string& name);

// Reads g_source_list_file line by line and hands each named file to the
// selection, which passes what it chose to the sink of `visit` (the walk's
// selecting visitor); interrupted when the user interrupts, else the first stop
// the selection returns, else go_on at the end of the list.
stop_reason process_source_list(const walk_visitor& visit);
// Reads a list from `list` up to its end or its first empty line and hands each
// named file to `handler`. A line whose path is too long is skipped with a message
// naming its line number on standard error. Stops only for an interrupt.
stop_reason read_source_list(std::FILE* list, list_entry_handler handler);
