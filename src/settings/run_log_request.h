// What the readers ask of the run log while they read. Settings only record the
// request; the handler start-up installs (the run log's own) carries it out at
// once, so that a log opens and closes exactly where the settings name it and
// its messages stand where they always stood.
#pragma once

#include <string_view>

enum class run_log_action {
  open,      // open (or create) the log `name` for this run
  give_way,  // an open log is told `farewell` (with %s for `name`) and closed
  close,     // an open log is closed
  is_open,   // nothing: only whether a log is open
};

struct run_log_request {
  run_log_action action = run_log_action::is_open;
  std::string_view name;
  const char* farewell = nullptr;
};

// Carries out a request; returns whether a run log is open afterwards.
using run_log_handler = bool (*)(const run_log_request& request);
// Installs the handler; null records nothing and opens nothing.
void set_run_log_handler(run_log_handler handler);
// The four requests; each returns whether a log is open afterwards (false when
// no handler is installed).
bool request_run_log_open(std::string_view name);
bool request_run_log_give_way(std::string_view name, const char* farewell);
bool request_run_log_close();
bool run_log_is_open();
