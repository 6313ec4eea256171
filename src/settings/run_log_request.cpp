#include "settings/run_log_request.h"

namespace {

run_log_handler s_handler = nullptr;

}  // namespace

void set_run_log_handler(run_log_handler handler) { s_handler = handler; }

namespace {

bool request(run_log_action action, std::string_view name, const char* farewell) {
  return s_handler ? s_handler(run_log_request{action, name, farewell}) : false;
}

}  // namespace

bool request_run_log_open(std::string_view name) {
  return request(run_log_action::open, name, nullptr);
}

bool request_run_log_give_way(std::string_view name, const char* farewell) {
  return request(run_log_action::give_way, name, farewell);
}

bool request_run_log_close() { return request(run_log_action::close, {}, nullptr); }

bool run_log_is_open() { return request(run_log_action::is_open, {}, nullptr); }
