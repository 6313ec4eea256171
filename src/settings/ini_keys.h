// The keys of an INI file and what each does to the settings.
#pragma once

#include <string_view>
#include <vector>

// Applies one setting line of an INI file, as read (without its line end), to the
// settings: the first key of the table that fits wins. Comment lines and lines that
// match no key change nothing. Missing values print a message and wait; none fails.
void apply_ini_line(std::string_view line);
// The keys of the table, in the order they are tested.
std::vector<std::string_view> ini_key_names();
