// Setters shared by the command line, the long options and the INI keys, so that
// one setting means the same wherever it is written.
#pragma once

#include <string>
#include <string_view>

// Full path of a file name; the name itself when the system cannot make it full.
std::string full_name(std::string_view name);
// The code of a value that is exactly one (UTF-8) character; -1 for any other value.
int single_character_code(std::string_view value);
// The code of the first (UTF-8) character of a text that is not empty.
int first_character_code(std::string_view text);
// Stores comment text, keeping its first 127 characters.
void store_comment_text(std::string_view text);
// Prints the two too-many-excludes lines and ends the run with reason 6.
[[noreturn]] void refuse_too_many_excludes();

// Sets how many files are read at once from a whole number 1 to k_most_scanners;
// any other value is reported and ends the run with reason 6, wherever it was written.
void set_scanner_count(std::string_view value);

// Selects files of at least (`greater`) or at most `value` bytes.
void set_size_bound(bool greater, std::string_view value);

// Removes the letters a, c, w (either case) from a date value, setting the
// matching flags of g_age_times; the value ends at the first such letter.
// False when the value held none of them.
bool take_time_letters(std::string& value);
// Applies a days-or-date value as the older (`older`) or newer age bound: a value
// with '-', '/' or '\' is a date, which also puts the bound's time in force (a
// date without letters means w); anything else is a number of days. A value that
// does not begin with a digit, or an impossible calendar date, is reported and
// ends the run with reason 6, wherever it was written.
void set_age_bound(std::string value, bool older);
// set_age_bound for -g/-l and their long forms, which mark the bound as given
// even for a number of days.
void apply_age_value(std::string value, bool older);

// Sets the sent-date bound after (`after`) or before from `value`, given as the
// setting `key` ("--SENT-AFTER", "SENT_AFTER", ...): read_date_bound's forms, white
// space around them ignored. Any other value is reported and ends the run with
// reason 6, wherever it was written.
void set_sent_bound(std::string_view value, bool after, std::string_view key);
// Ends the run with reason 6 when the after-bound is at or past the before-bound,
// naming both as they were given: such a run could list nothing.
void refuse_crossed_sent_bounds();

// Where a new run-log name came from; each says so in its own words to a log that
// is already open.
enum class run_log_source { option_letter, long_option, ini_file };
// Names the run log that opens at the end of the command line; a log open already
// is told why it ends here, and closed.
void override_run_log(std::string_view name, run_log_source source);
