// Win32 backend: the console, single keys and Ctrl-C.
#include <conio.h>
#include <io.h>

#include "platform/win32/backend.h"

namespace win32_backend {

namespace {

volatile LONG g_interrupt_flag = 0;
volatile LONG g_interrupts_received = 0;

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  // The run ends within a read of the first interrupt; a second one meanwhile
  // (Ctrl-C pressed twice) must not cut the record being written. Only a third,
  // from someone who insists, leaves at once.
  if (InterlockedIncrement(&g_interrupts_received) >= 3) ExitProcess(2);
  InterlockedExchange(&g_interrupt_flag, 1);
  return TRUE;
}

}  // namespace

void win_console_start() { setvbuf(stdin, nullptr, _IONBF, 0); }

void win_console_restore() {}

bool win_stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

bool win_is_terminal(std::FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }

bool win_key_waiting() { return win_stdin_is_terminal() && _kbhit() != 0; }

int win_read_key() {
  if (g_interrupt_flag) return 3;
  if (win_stdin_is_terminal()) return _getch();
  int c = std::getchar();
  return c == EOF ? -1 : c;
}

void win_install_interrupt_handler() { SetConsoleCtrlHandler(on_console_event, TRUE); }

bool win_interrupt_requested() { return g_interrupt_flag != 0; }

void win_sleep_milliseconds(int milliseconds) {
  while (milliseconds > 0 && !g_interrupt_flag) {
    int step = milliseconds < 50 ? milliseconds : 50;
    Sleep(static_cast<DWORD>(step));
    milliseconds -= step;
  }
}

void win_ignore_write_signals() {}

}  // namespace win32_backend
