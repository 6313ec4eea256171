#include "INCLUDE_U/messages.h"

#include <cstdio>
#include <cstring>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

namespace {

thread_local held_messages* t_held = nullptr;

}  // namespace

void hold_messages(held_messages* into) { t_held = into; }

held_messages* messages_held() { return t_held; }

bool messages_on_terminal() {
  static const bool terminal = g_platform.is_terminal(stderr);
  return terminal;
}

void write_message(std::string_view text) {
  if (t_held)
    t_held->text.append(text);
  else
    write_text(stderr, text);
}

void write_untrusted_message(std::string_view text) {
  if (t_held)
    append_untrusted_text(t_held->text, text, messages_on_terminal());
  else
    write_untrusted_text(stderr, text, messages_on_terminal());
}

void move_held_messages(held_messages& to, held_messages& from) {
  if (to.text.empty())
    to.text.swap(from.text);
  else
    to.text.append(from.text);
  to.unreadable += from.unreadable;
  to.resources_ran_out = to.resources_ran_out || from.resources_ran_out;
  drop_held_messages(from);
}

void drop_held_messages(held_messages& held) {
  held.text.clear();
  held.unreadable = 0;
  held.resources_ran_out = false;
}

const char* system_reason(int error) { return error ? std::strerror(error) : "unknown cause"; }
