// The per-file messages on standard error (progress lines, "cannot read"): written
// at once, or held by a thread that works ahead of the listing, for the one writer
// to pass on in walk order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What a thread said while it held its messages, and what those messages count.
struct held_messages {
  std::string text;
  int32_t unreadable = 0;          // paths named as unreadable
  bool resources_ran_out = false;  // a failure met memory or descriptors run out
};

// Makes this thread hold its messages in `into`; null writes them at once again.
void hold_messages(held_messages* into);
// The messages this thread holds, or null when it writes them at once.
held_messages* messages_held();

// Writes program text to standard error, or holds it.
void write_message(std::string_view text);
// Writes text from the files (names) the same way; on a terminal its control
// characters are shown as '?'.
void write_untrusted_message(std::string_view text);
// Whether standard error is a terminal.
bool messages_on_terminal();

// The system's words for an errno value ("Permission denied"); "unknown cause"
// for 0.
const char* system_reason(int error);

// Moves what `from` holds to the end of `to`, emptying `from`.
void move_held_messages(held_messages& to, held_messages& from);
// Forgets what `held` holds: messages about files the listing will not show.
void drop_held_messages(held_messages& held);
