#include "INCLUDE_U/clock.h"

#include <cstdio>

int64_t g_start_time = 0;
int64_t g_end_time = 0;

namespace {

std::string layout(const calendar_time& t) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  int n = std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d",
                        days[(t.weekday % 7 + 7) % 7], months[(t.month + 11) % 12], t.day, t.hour,
                        t.minute, t.second, t.year);
  if (n < 0) return std::string();
  return std::string(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1);
}

}  // namespace

int64_t current_time() { return g_platform.current_time(); }

bool utc_parts(int64_t seconds, calendar_time& out) {
  return g_platform.seconds_to_calendar(seconds, false, out);
}

bool local_parts(int64_t seconds, calendar_time& out) {
  return g_platform.seconds_to_calendar(seconds, true, out);
}

std::string ctime_text(int64_t seconds) {
  calendar_time t;
  if (!local_parts(seconds, t)) return "??? ??? ?? ??:??:?? ????";
  return layout(t);
}

std::string utc_ctime_text(int64_t seconds) {
  calendar_time t;
  if (!utc_parts(seconds, t)) return "??? ??? ?? ??:??:?? ????";
  return layout(t);
}
