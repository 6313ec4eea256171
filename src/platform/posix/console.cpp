// POSIX backend: the terminal, single keys, interrupts and the other signals.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <cstdlib>

#include "platform/posix/backend.h"

namespace posix_backend {

namespace {

struct termios g_saved_terminal;
bool g_terminal_changed = false;
// Read by every scanner; a lock-free atomic may be set from a signal handler.
std::atomic<int> g_interrupt_flag{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Time the run has to end by itself after an interrupt: far more than finishing a
// record and the run log takes, unless a write blocks (a pipe nobody reads).
constexpr unsigned k_interrupt_grace_seconds = 10;

void leave_at_once(int) {
  if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  _exit(2);
}

// Interrupts received; a lock-free atomic may be changed from a signal handler.
std::atomic<int> g_interrupts_received{0};
// The run ends within a read of the first interrupt; a second one meanwhile
// (Ctrl-C pressed twice) must not cut the record being written. Only a third, from
// someone who insists, leaves at once.
constexpr int k_interrupts_to_leave = 3;

void on_interrupt(int signal_number) {
  int received = g_interrupts_received.fetch_add(1) + 1;
  if (received >= k_interrupts_to_leave) leave_at_once(signal_number);
  g_interrupt_flag = 1;
  if (received == 1) alarm(k_interrupt_grace_seconds);
}

// A signal that ends the process: the terminal gets its modes back, then the
// signal takes its default course.
void on_fatal_signal(int signal_number) {
  if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  raise(signal_number);  // the action is back to the default (SA_RESETHAND)
}

// Only signals still at their default action: a handler someone else installed
// (a sanitizer's, say) is left in place.
void restore_terminal_on(int signal_number) {
  struct sigaction current {};
  if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void posix_console_restore() {
  if (g_terminal_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    g_terminal_changed = false;
  }
}

void posix_console_start() {
  if (g_terminal_changed || !isatty(STDIN_FILENO)) return;
  if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
  struct termios raw = g_saved_terminal;
  // Single keys without echo; Ctrl-C still raises the interrupt.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    g_terminal_changed = true;
    std::atexit(posix_console_restore);
  }
}

bool posix_stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool posix_is_terminal(std::FILE* stream) { return stream && isatty(fileno(stream)) != 0; }

bool posix_key_waiting() {
  if (!g_terminal_changed) return false;
  struct pollfd p = {STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

int posix_read_key() {
  for (;;) {
    if (g_interrupt_flag) return 3;
    struct pollfd p = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    unsigned char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n == 0) return -1;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

void posix_install_interrupt_handler() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A closed terminal window (SIGHUP) and Ctrl-\ (SIGQUIT) end the run as an
  // interrupt does: whole records, and the run log's trailer.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaction(signal_number, &action, nullptr);
  }
  // A run stuck where it cannot look at the flag ends when the grace runs out.
  action.sa_handler = leave_at_once;
  sigaction(SIGALRM, &action, nullptr);
  for (int signal_number : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGIO, SIGPROF, SIGSEGV, SIGSYS,
                            SIGTRAP, SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU}) {
    restore_terminal_on(signal_number);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    restore_terminal_on(signal_number);
  }
}

bool posix_interrupt_requested() { return g_interrupt_flag != 0; }

void posix_sleep_milliseconds(int milliseconds) {
  // In short steps, so that an interrupt is acted on soon.
  while (milliseconds > 0 && !g_interrupt_flag) {
    int step = milliseconds < 50 ? milliseconds : 50;
    struct timespec ts = {0, static_cast<long>(step) * 1000000L};
    nanosleep(&ts, nullptr);
    milliseconds -= step;
  }
}

void posix_ignore_write_signals() {
  signal(SIGPIPE, SIG_IGN);
  // Over the file-size limit a write then fails with EFBIG, which the listing
  // reports, instead of the process dying in the middle of a record.
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace posix_backend
