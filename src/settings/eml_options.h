// The command-line reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reads the environment, the INI file and the command line into the settings,
// fills the path lists and opens the run log. Returns only when the whole command
// line was accepted; option errors end the run with reason 6.
void parse_command_line(std::vector<std::string>& args);

// Removes the letters a, c, w (either case) from a date value, setting the
// matching flags of g_age_times; the value ends at the first such letter.
void take_time_letters(std::string& value);

// Applies a days-or-date value of -g (older) or -l (newer), and of their long and
// INI forms: sets age_filter and the bound it names. An impossible calendar date
// is reported on standard output and ends the run with reason 6.
void apply_age_value(std::string value, bool older);

// The option letters the command line knows, '-' (long options) first.
std::string option_letters();

// Helpers shared with the long options.

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
