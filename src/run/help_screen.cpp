#include "run/help_screen.h"

#include "run/terminate.h"

// Stand-ins until the help screen exists.
void show_help() { std::fputs("MAILSIFT: lists the header facts of stored mail files\n", stderr); }

void show_code_notice() { exit_directly(6); }

void print_centred(int width, std::string_view text, std::FILE* stream) {
  int pad = (width - static_cast<int>(text.size())) / 2;
  for (int i = 0; i < pad; ++i) std::fputc(' ', stream);
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string version_text(const char* build_date, const char* build_time) {
  (void)build_date;
  (void)build_time;
  return std::string();
}
