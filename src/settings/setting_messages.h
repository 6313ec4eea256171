// The messages of the settings readers and the run-log notes.
//
// They go to standard output when the listing goes to a file. When the listing
// goes to standard output they go to standard error, so that a script's listing
// holds nothing but the listing. Until the settings are read, the listing's place
// is not known, and the messages are held.
#pragma once

#include <cstdio>
#include <string_view>

// Writes (or holds) `text` as a settings message.
void say_setting(std::string_view text);
// say_setting of printf-formatted text; longer than 4095 bytes is cut.
[[gnu::format(printf, 1, 2)]] void say_setting_formatted(const char* format, ...);
// Before a wait that lets the user read them: the held messages go out now when
// the stream the settings read so far choose is a terminal. Elsewhere nobody
// reads them during the wait, and they stay held for the right stream.
void show_setting_messages();
// The listing's place is known: the held messages, and all later ones, go to
// standard error when `listing_on_standard_output`, else to standard output.
void settle_setting_messages(bool listing_on_standard_output);
// At an end of the run, settled or not: what is still held goes where the
// settings read so far put it.
void release_setting_messages();
// Forgets held messages and the settled stream (tests).
void reset_setting_messages();
