// The command-line reader.
#pragma once

#include <string>
#include <vector>

// Reads the environment, the INI file and the command line into the settings,
// fills the path lists and opens the run log. Returns only when the whole command
// line was accepted; option errors end the run with reason 6.
void parse_command_line(std::vector<std::string>& args);

// Removes the letters a, c, w (either case) from a date value, setting the
// matching flags of g_age_times; the value ends at the first such letter.
void take_time_letters(std::string& value);

// Applies a days-or-date value of -g (older) or -l (newer), and of their long and
// INI forms: sets age_filter and the bound it names.
void apply_age_value(std::string value, bool older);
