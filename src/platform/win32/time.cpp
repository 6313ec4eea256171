// Win32 backend: the clock, calendar parts through the system's zone rules, and
// the time zone.
#include <ctime>

#include "platform/win32/backend.h"

namespace win32_backend {

namespace {

void fill_calendar(const SYSTEMTIME& st, calendar_time& out) {
  out.year = st.wYear;
  out.month = st.wMonth;
  out.day = st.wDay;
  out.hour = st.wHour;
  out.minute = st.wMinute;
  out.second = st.wSecond;
  out.millisecond = st.wMilliseconds;
  out.weekday = st.wDayOfWeek;
}

FILETIME filetime_of(file_ticks ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// Days since 1970-01-01 of a proleptic Gregorian date; months out of 1-12 and
// days out of range carry over as mktime lets them.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  int64_t m0 = month - 1;
  year += m0 >= 0 ? m0 / 12 : (m0 - 11) / 12;
  int64_t m = ((m0 % 12) + 12) % 12 + 1;
  year -= m <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int64_t win_current_time() { return static_cast<int64_t>(_time64(nullptr)); }

// Every local time of the program goes through the system's zone and its rules
// for that date (not the rules in force now), so file times, stamps and date
// bounds agree with each other.
bool win_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out) {
  FILETIME ft = filetime_of(ticks);
  SYSTEMTIME utc;
  if (!FileTimeToSystemTime(&ft, &utc)) return false;
  if (!local) {
    fill_calendar(utc, out);
    return true;
  }
  SYSTEMTIME here;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &here)) return false;
  fill_calendar(here, out);
  return true;
}

bool win_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out) {
  if (seconds < -k_seconds_1601_to_1970) return false;
  file_ticks ticks = static_cast<file_ticks>(seconds + k_seconds_1601_to_1970) * k_ticks_per_second;
  return win_ticks_to_calendar(ticks, local, out);
}

bool win_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                   int64_t& out) {
  int64_t wall = days_from_civil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second;
  if (wall < -k_seconds_1601_to_1970 + 86400) return false;
  FILETIME ft =
      filetime_of(static_cast<file_ticks>(wall + k_seconds_1601_to_1970) * k_ticks_per_second);
  SYSTEMTIME local_time;
  SYSTEMTIME utc;
  FILETIME back;
  if (!FileTimeToSystemTime(&ft, &local_time) ||
      !TzSpecificLocalTimeToSystemTime(nullptr, &local_time, &utc) ||
      !SystemTimeToFileTime(&utc, &back)) {
    return false;
  }
  out = ticks_to_seconds((static_cast<file_ticks>(back.dwHighDateTime) << 32) | back.dwLowDateTime);
  return true;
}

bool win_time_zone(zone_state& out) {
  TIME_ZONE_INFORMATION zone;
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return false;
  out.offset_seconds_west = (zone.Bias + zone.StandardBias) * 60L;
  out.has_daylight = zone.DaylightDate.wMonth != 0;
  out.standard_name = narrow(zone.StandardName);
  out.daylight_name = narrow(zone.DaylightName);
  return true;
}

}  // namespace win32_backend
