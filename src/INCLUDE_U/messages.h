// The per-file messages on standard error (progress lines, "cannot read"): written
// at once, or held by a thread that works ahead of the listing, for the one writer
// to pass on in walk order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A note said once a run, asked for where `at` bytes of the held text were said.
struct held_note {
  std::size_t at = 0;
  int id = 0;
  const char* text = nullptr;
};
inline constexpr std::size_t k_most_held_notes = 4;

// What a thread said while it held its messages, and what those messages count.
struct held_messages {
  std::string text;
  int32_t unreadable = 0;          // paths named as unreadable
  int32_t changed = 0;             // files named as changed while they were read
  bool resources_ran_out = false;  // a failure met memory or descriptors run out
  // Notes said once a run: whether the run has said one is known only when the
  // messages go out in walk order, so they are kept apart from the text.
  std::array<held_note, k_most_held_notes> notes{};
  std::size_t note_count = 0;
};

// Makes the walk's thread hold its messages in `into`; null writes them at once
// again. Only the walk's thread holds this way: a scanner passes the messages of
// its slot to every writer below instead.
void hold_messages(held_messages* into);
// The messages the walk's thread holds, or null when it writes them at once.
held_messages* messages_held();

// Writes program text to standard error, or adds it to `held`. Without `held`
// (null) the walk's thread holds it or writes it as hold_messages says; a
// scanner always names its own.
void write_message(held_messages* held, std::string_view text);
void write_message(std::string_view text);
// Writes text from the files (names) the same way; on a terminal its control
// characters are shown as '?'.
void write_untrusted_message(held_messages* held, std::string_view text);
void write_untrusted_message(std::string_view text);
// Says `text` (static) unless the run has said note `id` (0 to 31) before; held,
// the decision waits until the held messages go out, so that the note follows
// the first file in walk order that needed it, whichever thread read it.
void write_once_note(held_messages* held, int id, const char* text);
void write_once_note(int id, const char* text);
// Writes the held text to standard error with its notes in place.
void write_held_text(const held_messages& held);
// Whether standard error is a terminal.
bool messages_on_terminal();

// The system's words for an errno value ("Permission denied"); "unknown cause"
// for 0.
const char* system_reason(int error);

// Moves what `from` holds to the end of `to`, emptying `from`.
void move_held_messages(held_messages& to, held_messages& from);
// Forgets what `held` holds: messages about files the listing will not show.
void drop_held_messages(held_messages& held);
