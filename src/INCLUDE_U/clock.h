// Time primitives: every time stamp of the program goes through these.
// Times are signed 64-bit seconds since 1970-01-01 00:00:00 UTC.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

int64_t current_time();
// The run's start and end: start-up (and the help screen, which starts the
// clock again while a person reads) set the start, the end of the run the end;
// the run log and the summary tell the time between.
extern int64_t g_start_time;
extern int64_t g_end_time;
// The 24-character ctime layout of the local time, as "Wed Aug 14 09:30:21 2013";
// "??? ??? ?? ??:??:?? ????" when the time cannot be converted.
std::string ctime_text(int64_t seconds);
// The same layout for the time in UTC.
std::string utc_ctime_text(int64_t seconds);
// Calendar parts in UTC or local time; false when the time cannot be converted.
bool utc_parts(int64_t seconds, calendar_time& out);
bool local_parts(int64_t seconds, calendar_time& out);
