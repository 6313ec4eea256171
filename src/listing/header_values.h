// Routines on the byte text of message lines.
#pragma once

#include <cstddef>
#include <string_view>

#include "INCLUDE_U/text.h"

// Capacity of a message line and of each message field.
inline constexpr std::size_t k_field_capacity = 32767;
using field_text = bounded_text<k_field_capacity>;

struct line_reader;

// The date parsed from the first Date (or Sent) line of a file.
struct parsed_date {
  int year = 0;
  int month = 0;
  int day = 0;
  bounded_text<19> time_text;
};

// Case-insensitive search that never finds a literal ending exactly at the end
// of the text. Returns the offset of the first match, or npos.
std::size_t find_text(std::string_view text, std::string_view literal);

// Removes leading '*' and '>' marks (and one white-space character after them)
// from a line of 10 or more characters; true when something was removed.
bool strip_quote_marks(field_text& line);

// Appends "(#" counter ":) " (or "(#body:) " when `body`) and advances the
// counter: the head of an entry whose text and two spaces follow.
void append_entry_head(field_text& field, int& counter, bool body);

// Appends "(#" counter ":) " text "  " and advances the counter.
void append_entry(field_text& field, int& counter, std::string_view text);

// Doubles every double quote of the field when the delimiter is a comma. Text
// beyond the field's capacity is dropped.
void double_quotes(field_text& field);

// Parses a Date or Sent line into `date`: day, month, year and time text, each
// left as it was when the line does not give it.
void parse_date_line(std::string_view line, parsed_date& date);

// Appends the folded continuation lines that follow an address line to `field`
// (white-space or "> " indented, each without a trailing comma of the field), and
// leaves the reader at the first line that is not one.
void fold_continuations(line_reader& reader, field_text& field);
