// Output names carrying a date mask or COMPUTERNAME.
#pragma once

#include <string>

// True when the name contains one of the masks that expand_dated_name rewrites:
// a separator followed by MMDD, YY, YYMM or YYYY, or the word COMPUTERNAME.
bool has_dated_mask(const std::string& name);
// Rewrites the mask of `name` in place with the current date, time and computer
// name; always returns 0 (a name without a mask is left as it is).
int expand_dated_name(std::string& name);
// Appends the computer name to `out`; the number of characters written, 0 on failure.
int computer_name_into(std::string& out);
