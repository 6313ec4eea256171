#include "INCLUDE_U/messages.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

namespace {

// What the walk's thread holds (see hold_messages). Scanners never read it: they
// name their slot's messages, so it is only ever touched by the walk's thread.
held_messages* s_walk_held = nullptr;

held_messages* sink_or_walk_held(held_messages* held) { return held ? held : s_walk_held; }

// The notes said so far, a bit each.
std::atomic<uint32_t> s_notes_said{0};

void say_note(int id, const char* text) {
  uint32_t bit = uint32_t{1} << id;
  if ((s_notes_said.fetch_or(bit) & bit) == 0) write_text(stderr, text);
}

}  // namespace

void hold_messages(held_messages* into) { s_walk_held = into; }

held_messages* messages_held() { return s_walk_held; }

bool messages_on_terminal() {
  static const bool terminal = g_platform.is_terminal(stderr);
  return terminal;
}

void write_message(held_messages* held, std::string_view text) {
  if (held_messages* to = sink_or_walk_held(held))
    to->text.append(text);
  else
    write_text(stderr, text);
}

void write_message(std::string_view text) { write_message(nullptr, text); }

void write_untrusted_message(held_messages* held, std::string_view text) {
  if (held_messages* to = sink_or_walk_held(held))
    append_untrusted_text(to->text, text, messages_on_terminal());
  else
    write_untrusted_text(stderr, text, messages_on_terminal());
}

void write_untrusted_message(std::string_view text) { write_untrusted_message(nullptr, text); }

void write_once_note(held_messages* held, int id, const char* text) {
  held_messages* to = sink_or_walk_held(held);
  if (!to || to->note_count == k_most_held_notes) {
    say_note(id, text);
    return;
  }
  to->notes[to->note_count++] = {to->text.size(), id, text};
}

void write_once_note(int id, const char* text) { write_once_note(nullptr, id, text); }

void write_held_text(const held_messages& held) {
  std::string_view text = held.text;
  std::size_t said = 0;
  for (std::size_t i = 0; i < held.note_count; ++i) {
    const held_note& note = held.notes[i];
    write_text(stderr, text.substr(said, note.at - said));
    said = note.at;
    say_note(note.id, note.text);
  }
  write_text(stderr, text.substr(said));
}

void move_held_messages(held_messages& to, held_messages& from) {
  for (std::size_t i = 0; i < from.note_count; ++i) {
    held_note note = from.notes[i];
    note.at += to.text.size();
    if (to.note_count < k_most_held_notes)
      to.notes[to.note_count++] = note;
    else
      say_note(note.id, note.text);
  }
  if (to.text.empty())
    to.text.swap(from.text);
  else
    to.text.append(from.text);
  to.unreadable += from.unreadable;
  to.changed += from.changed;
  to.resources_ran_out = to.resources_ran_out || from.resources_ran_out;
  drop_held_messages(from);
}

void drop_held_messages(held_messages& held) {
  held.text.clear();
  held.note_count = 0;
  held.unreadable = 0;
  held.changed = 0;
  held.resources_ran_out = false;
}

const char* system_reason(int error) { return error ? std::strerror(error) : "unknown cause"; }
