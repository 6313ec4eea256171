// One line of a message as a source hands it to the scan, and the capacity that a
// line and each message field share.
#pragma once

#include <cstddef>

#include "INCLUDE_U/text.h"

// Capacity of a message line and of each message field.
inline constexpr std::size_t k_field_capacity = 32767;
using field_text = bounded_text<k_field_capacity>;

// One line as read: its text without the line end, and whether a line end
// followed the text (false for a piece of a long line, a last line without a line
// end, and a line cut at a NUL byte). The flag comes first, on the page where the
// text starts.
struct message_line {
  bool line_end = false;
  field_text text;
};
