// POSIX backend: the clock, calendar parts and the time zone.
#include <time.h>

#include "platform/posix/backend.h"

namespace posix_backend {

namespace {

void fill_calendar(const struct tm& t, int millisecond, calendar_time& out) {
  out.year = t.tm_year + 1900;
  out.month = t.tm_mon + 1;
  out.day = t.tm_mday;
  out.hour = t.tm_hour;
  out.minute = t.tm_min;
  out.second = t.tm_sec;
  out.millisecond = millisecond;
  out.weekday = t.tm_wday;
}

}  // namespace

int64_t posix_current_time() { return static_cast<int64_t>(time(nullptr)); }

bool posix_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out) {
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!(local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts))) return false;
  fill_calendar(parts, 0, out);
  return true;
}

bool posix_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out) {
  int64_t seconds = ticks_to_seconds(ticks);
  int millisecond = static_cast<int>((ticks / 10000) % 1000);
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!(local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts))) return false;
  fill_calendar(parts, millisecond, out);
  return true;
}

bool posix_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                     int64_t& out) {
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&parts);
  if (t == static_cast<time_t>(-1) && errno != 0) return false;
  out = static_cast<int64_t>(t);
  return true;
}

bool posix_time_zone(zone_state& out) {
  tzset();
  out.offset_seconds_west = timezone;
  out.has_daylight = daylight != 0;
  out.standard_name = tzname[0] ? tzname[0] : "";
  out.daylight_name = tzname[1] ? tzname[1] : "";
  return true;
}

}  // namespace posix_backend
