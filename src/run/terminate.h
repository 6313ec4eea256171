// How modules end the run or ask whether the user wants it ended.
#pragma once

// Exit reasons; each is also the process exit status.
enum exit_reason : int {
  k_exit_normal = 0,
  k_exit_user_aborted = 2,
  k_exit_input_file = 3,
  k_exit_output_file = 4,
  k_exit_illegal_option = 6,
  k_exit_memory = 7,
  k_exit_write_error = 9,
};

// Text of an exit reason, or null for 0 and codes the table does not list.
const char* exit_reason_text(int reason);

// Ends every run that got past start-up: reason line, screen summary, closes the
// listing and the run log (with its trailer), exit status `reason`.
[[noreturn]] void terminate_run(int reason);

// Ends the process at once with `status`, without summary or run-log trailer,
// after restoring the console.
[[noreturn]] void exit_directly(int status);

// 1 when Escape or Ctrl-C was typed on the console or an interrupt arrived; any
// other waiting key is consumed. Never blocks.
int abort_key_pressed();

// True when an interrupt (Ctrl-C, SIGTERM) arrived and the run should end with
// reason 2 at the next safe point.
bool interrupt_pending();
