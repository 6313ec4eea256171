// Whether the file system updates last-access dates, read once at start-up.
#pragma once

#include <cstdio>

// -1 not found, 0 updated, 1 not updated; other values as stored.
extern int g_last_access_setting;

int read_last_access_setting();
// Writes the report on the setting to `stream` (the run log).
void report_last_access(std::FILE* stream, int value);
