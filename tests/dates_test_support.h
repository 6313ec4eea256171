// Test support for code that reads the local time zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

// Pins the process to the zone the end-to-end tests use where the run-time reads
// TZ (POSIX; under wine the harness sets it for the whole test run) and restores
// the previous zone at scope end.
class scoped_eastern_zone {
 public:
  scoped_eastern_zone() {
#ifndef _WIN32
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", "EST5EDT", 1);
    tzset();
#endif
  }
  ~scoped_eastern_zone() {
#ifndef _WIN32
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
#endif
  }
  scoped_eastern_zone(const scoped_eastern_zone&) = delete;
  scoped_eastern_zone& operator=(const scoped_eastern_zone&) = delete;
  // False when the local zone is not five hours west with daylight saving time.
  static bool in_force() {
    zone_state zone;
    return g_platform.time_zone(zone) && zone.offset_seconds_west == 18000 && zone.has_daylight;
  }

 private:
  bool had_ = false;
  std::string old_;
};
