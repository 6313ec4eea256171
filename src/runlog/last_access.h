// Whether the file system updates last-access dates, read once at start-up and
// reported at the end of the run log's trailer.
#pragma once

#include <cstdio>
#include <string>

// -1 not found, 0 updated, 1 not updated; other values as stored.
extern int g_last_access_setting;

// The system's setting (Windows: the registry value; POSIX: the mount options of the
// file system holding `path`); -1 when it cannot be told.
int read_last_access_setting(const std::string& path);
// Writes the report on `value` to `stream` (the run log): bit 0 of 0-3 and of the
// system-managed 0x80000000-0x80000003 tells whether dates are updated. Any other
// value but -1 leaves the report line unfinished and prints an error.
void report_last_access(std::FILE* stream, int value);
