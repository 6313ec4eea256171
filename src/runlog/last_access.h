// Whether the file system updates last-access dates, read once at start-up and
// reported at the end of the run log's trailer.
#pragma once

#include <cstdio>
#include <string>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

// -1 not found, 0 updated, 1 not updated; other values as stored.
extern int g_last_access_setting;

// The system's setting (Windows: the registry value; POSIX: the mount options of the
// file system holding `path`); -1 when it cannot be told.
int read_last_access_setting(const std::string& path);
// Writes the report on `value` to `stream` (the run log): bit 0 of 0-3 and of the
// system-managed 0x80000000-0x80000003 tells whether dates are updated. Any other
// value but -1 leaves the report line unfinished and prints an error.
void report_last_access(std::FILE* stream, int value);

// What this run did to the last-access dates of what it read, as one line
// (line end included): left unchanged, or for how many they could not be kept
// and why.
bounded_text<256> access_times_line(const access_time_counts& counts);
// Writes that line to the run log after the report above, ending the report's
// line first where the report left it open.
void report_access_times(std::FILE* stream, int value, const access_time_counts& counts);
