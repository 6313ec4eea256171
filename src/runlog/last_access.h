// Whether the file system updates last-access dates, read once at start-up and
// reported at the end of the run log's trailer.
#pragma once

#include <cstdio>

// -1 not found, 0 updated, 1 not updated; other values as stored.
extern int g_last_access_setting;

// The system's setting (Windows: the registry value; POSIX: the mount options of the
// current directory's file system); -1 when it cannot be told.
int read_last_access_setting();
// Writes the report on `value` to `stream` (the run log). A value other than -1, 0
// and 1 leaves the report line unfinished and prints an error on standard output.
void report_last_access(std::FILE* stream, int value);
