// Run-wide state shared by the walk, the file selection, the listing, the run
// log and the termination routine. One instance, alive for the whole process.
#pragma once

#include <cstdint>
#include <cstdio>

// Listing output: standard output until an output file is opened.
extern std::FILE* g_out_file;
// Message stream: always standard error.
extern std::FILE* g_msg_file;
// The run log, or null when none is open.
extern std::FILE* g_acct_file;
// Start and end of the run, seconds since 1970-01-01 UTC.
extern int64_t g_start_time;
extern int64_t g_end_time;
// 1 while the counting pass runs.
extern int g_counting;
// Files and bytes seen by the counting pass.
extern uint32_t g_counted_files;
extern uint64_t g_counted_bytes;
// Longest directory-plus-name length seen by the counting pass (auto width only).
extern uint32_t g_longest_path;
// Directories entered and files handed to the message scan in the processing pass.
extern int32_t g_dir_count;
extern int32_t g_file_count;
// Current nesting depth of the walk.
extern int32_t g_depth;
