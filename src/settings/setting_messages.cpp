#include "settings/setting_messages.h"

#include <algorithm>
#include <cstdarg>
#include <string>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/run_settings.h"

namespace {

// Text not yet written, and where messages go once that is known (null before).
std::string s_held;
std::FILE* s_settled = nullptr;

// Beyond this much held text the rest is dropped: the settings readers write a
// few lines, and a flood must not grow without end.
constexpr std::size_t k_held_limit = 1 << 16;

std::FILE* stream_for(bool listing_on_standard_output) {
  return listing_on_standard_output ? stderr : stdout;
}

bool listing_on_standard_output_so_far() { return !g_settings || !g_settings->output_mode; }

void write_held(std::FILE* stream) {
  write_text(stream, s_held);
  std::fflush(stream);
  s_held.clear();
}

}  // namespace

void say_setting(std::string_view text) {
  if (s_settled) {
    write_text(s_settled, text);
    std::fflush(s_settled);
    return;
  }
  s_held.append(text.substr(0, k_held_limit - std::min(k_held_limit, s_held.size())));
}

void say_setting_formatted(const char* format, ...) {
  bounded_text<4095> text;
  va_list args;
  va_start(args, format);
  append_format_list(text, format, args);
  va_end(args);
  say_setting(text.view());
}

void show_setting_messages() {
  if (s_settled || s_held.empty()) return;
  std::FILE* stream = stream_for(listing_on_standard_output_so_far());
  if (g_platform.is_terminal(stream)) write_held(stream);
}

void settle_setting_messages(bool listing_on_standard_output) {
  if (s_settled) return;
  s_settled = stream_for(listing_on_standard_output);
  write_held(s_settled);
}

void release_setting_messages() { settle_setting_messages(listing_on_standard_output_so_far()); }

void reset_setting_messages() {
  s_held.clear();
  s_settled = nullptr;
}
