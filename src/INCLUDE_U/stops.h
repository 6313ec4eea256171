// How a run stops: the exit reasons, the stop reasons that the walk, the file
// selection, the scan and the source list hand back to program_main, the interrupt
// flag and the direct exit. It includes only the platform layer, so every module
// may use it; ending a run with its summary stays with program_main.
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

// Why a walk, a selection, a scan or a source list ended early; go_on when it did not.
enum class stop_reason { go_on, interrupted, out_of_memory, write_failed };

// The exit reason that ends a run stopped for `stop` (k_exit_normal for go_on).
int exit_reason_of(stop_reason stop);
// Text of an exit reason, or null for 0 and codes the table does not list.
const char* exit_reason_text(int reason);

// 1 when Escape or Ctrl-C was typed on the console or an interrupt arrived; any
// other waiting key is consumed. Never blocks.
int abort_key_pressed();
// True when an interrupt (Ctrl-C, SIGTERM) arrived and the run should end with
// reason 2 at the next safe point.
bool interrupt_pending();

// Whether an allocation that fails on this thread is answered where it was made:
// a scanner's file, or a step the run can do without, catches std::bad_alloc
// (which the memory handler then throws) instead of the run ending there.
bool allocation_failure_is_local();
// Touches every per-thread variable of the program and the C++ runtime's own (its
// exception state) once. On Windows each is allocated at a thread's first use of
// it, and a failed allocation there ends the process; called as a thread starts,
// that first use never comes when memory has run out. Costs nothing elsewhere.
void prepare_thread_storage();
// While one lives, allocation failures on this thread are local. Made as a thread
// starts, it prepares the thread's storage too.
class local_allocation_failures {
 public:
  local_allocation_failures();
  ~local_allocation_failures();
  local_allocation_failures(const local_allocation_failures&) = delete;
  local_allocation_failures& operator=(const local_allocation_failures&) = delete;

 private:
  bool was_local_;
};
// Answers memory or descriptors that ran out outside operator new (for a charset's
// converter, a digest) as a failed allocation is answered: the memory handler
// ends the run after its whole records, or throws std::bad_alloc where failures
// are local (a scanner's file). Returns only where a handler returned.
void answer_failed_allocation();
// Says on standard error that memory ran out, once a run.
void report_out_of_memory();

// Ends the process at once with `status`, without summary or run-log trailer,
// after the last words and restoring the console.
[[noreturn]] void exit_directly(int status);
// What exit_directly says first (the settings messages still held); none by default.
void set_last_words(void (*last_words)());
// Ends start-up on a setting that cannot be used: through the ending program_main
// installed (the run's end with its reason line and run-log trailer), else directly.
[[noreturn]] void end_start_up(int reason);
// Installs the ending of end_start_up.
void set_start_up_ending(void (*ending)(int reason));
