// Routines on the byte text of message lines.
#pragma once

#include <cstddef>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/record/message_fields.h"
#include "listing/sources/line_reader.h"

// Case-insensitive search that never finds a literal ending exactly at the end
// of the text. Returns the offset of the first match, or npos.
std::size_t find_text(std::string_view text, std::string_view literal);

// Whether the text begins like a header: a printable character other than a
// space, then one or more characters up to a ':', none of them white space.
bool begins_header(std::string_view text);

// Length of the leading '*' and '>' marks (and one white-space character after
// them) that strip_quote_marks removes from this line; 0 when it removes nothing.
std::size_t quote_marks_length(std::string_view line);

// Removes leading '*' and '>' marks (and one white-space character after them)
// from a line of 10 or more characters; true when something was removed.
bool strip_quote_marks(field_text& line);

// Parses a Date or Sent line into `date`: day, month, year and time text, each
// left as it was when the line does not give it.
void parse_date_line(std::string_view line, parsed_date& date);

// Appends the folded continuation lines that follow an address line to `field`
// (white-space or "> " indented, each without a trailing comma of the field unless
// `keep_commas`), and leaves the reader at the first line that is not one.
void fold_continuations(line_reader& reader, field_text& field, message_line& work,
                        bool keep_commas = false);

// Joins a continuation line to the entry that ends `field` (the line break
// removed, the white space kept): the entry's padding goes after the joined text,
// and a tab that starts the continuation becomes a space, as in the address
// fields, so that a tab delimiter still splits nothing.
void join_continuation(field_text& field, std::string_view text);

// Hands each folded continuation line after the line just read (one that begins
// with a space or a tab, RFC 5322) to `visit`, and leaves the reader at the first
// line that is not one.
template <typename Visit>
void for_each_fold(line_reader& reader, message_line& work, Visit visit) {
  while (read_line(reader, work)) {
    std::string_view more = work.text.view();
    if (more.empty() || (more[0] != ' ' && more[0] != '\t')) {
      step_back(reader, work);
      return;
    }
    visit(more);
  }
}
