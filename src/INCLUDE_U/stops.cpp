#include "INCLUDE_U/stops.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "INCLUDE_U/numbers.h"
#include "platform/platform.h"

namespace {

struct reason_entry {
  int reason;
  const char* text;
};

constexpr reason_entry k_reason_texts[] = {
    {1, "NORMAL_EXIT"},  {2, "USER_ABORTED"},        {3, "INPUT_FILE"},
    {4, "OUTPUT_FILE"},  {5, "PARAMATER_FILE"},      {6, "ILLEGAL or INCOMPLETE OPTION"},
    {7, "MEMORY ERROR"}, {8, "OTHER_EXIT"},          {9, "WRITE_ERROR"},
    {11, "READ_ERROR"},  {13, "NON_SPECIFIC ERROR"},
};

thread_local bool t_allocation_failure_is_local = false;
std::atomic<bool> s_memory_reported{false};

void (*s_last_words)() = nullptr;
void (*s_start_up_ending)(int) = nullptr;

}  // namespace

int exit_reason_of(stop_reason stop) {
  switch (stop) {
    case stop_reason::go_on:
      break;
    case stop_reason::interrupted:
      return k_exit_user_aborted;
    case stop_reason::out_of_memory:
      return k_exit_memory;
    case stop_reason::write_failed:
      return k_exit_write_error;
  }
  return k_exit_normal;
}

const char* exit_reason_text(int reason) {
  for (const reason_entry& entry : k_reason_texts) {
    if (entry.reason == reason) return entry.text;
  }
  return nullptr;
}

int abort_key_pressed() {
  if (g_platform.interrupt_requested()) return 1;
  if (!g_platform.key_waiting()) return 0;
  int key = g_platform.read_key();
  return key == 3 || key == 27;
}

bool interrupt_pending() { return g_platform.interrupt_requested(); }

bool allocation_failure_is_local() { return t_allocation_failure_is_local; }

void prepare_thread_storage() {
  // Kept in volatiles: an access whose result goes nowhere the compiler may drop.
  bool* volatile flag = &t_allocation_failure_is_local;
  (void)flag;
  format_thousands(0);
  format_thousands64(0);
  // A throw reads the runtime's per-thread exception state; this reads it first.
  volatile int uncaught = std::uncaught_exceptions();
  (void)uncaught;
  g_platform.prepare_thread_storage();
}

local_allocation_failures::local_allocation_failures()
    : was_local_((prepare_thread_storage(), t_allocation_failure_is_local)) {
  t_allocation_failure_is_local = true;
}

local_allocation_failures::~local_allocation_failures() {
  t_allocation_failure_is_local = was_local_;
}

void answer_failed_allocation() {
  // As operator new does when it finds no memory.
  std::new_handler handler = std::get_new_handler();
  if (!handler) throw std::bad_alloc();
  handler();
}

void report_out_of_memory() {
  if (!s_memory_reported.exchange(true)) std::fputs("\nError obtaining memory\n", stderr);
}

void exit_directly(int status) {
  if (s_last_words) s_last_words();
  std::fflush(stdout);
  std::fflush(stderr);
  g_platform.console_restore();
  g_platform.exit_process(status);
  std::exit(status);  // a replaced exit_process (tests) may return
}

void set_last_words(void (*last_words)()) { s_last_words = last_words; }

void end_start_up(int reason) {
  if (s_start_up_ending) s_start_up_ending(reason);
  exit_directly(reason);
}

void set_start_up_ending(void (*ending)(int reason)) { s_start_up_ending = ending; }
