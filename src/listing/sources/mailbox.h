// Mailbox files: where one message ends and the next begins.
#pragma once

#include <string_view>

// Whether `line` (without its line end) is a mailbox separator: "From ", a
// sender word, and on the rest of the line a time of day (h:mm or hh:mm) and a
// four-digit year, as the asctime-like stamp of every mbox variant has them. A
// body line such as "From here on..." has no stamp and is no separator. Where
// the line stands (first in the file, or after an empty line) is for the reader
// to know.
bool is_separator_line(std::string_view line);
