// The command-line reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reads the environment, the INI file and the command line into the settings,
// fills the path lists and opens the run log. Returns only when the whole command
// line was accepted; option errors end the run with reason 6.
void parse_command_line(std::vector<std::string>& args);

// The option letters the command line knows, '-' (long options) first.
std::string option_letters();
