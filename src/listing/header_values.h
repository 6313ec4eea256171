// Routines on the byte text of message lines.
#pragma once

#include <charconv>
#include <cstddef>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/line_reader.h"

// The date parsed from the first Date (or Sent) line of a file, and for the sent
// time (asked for alone) that header's value with its folds joined; a value too
// long for it is left empty, as one cut short could read as another time.
struct parsed_date {
  int year = 0;
  int month = 0;
  int day = 0;
  bounded_text<19> time_text;
  bounded_text<256> sent_text;
};

// Appends `value` in decimal as printf's "%*lld" (pad ' ') or "%0*lld" (pad '0')
// writes it with `width`: the record's numbers without formatting at run time.
template <std::size_t N>
void append_number(bounded_text<N>& out, long long value, int width, char pad);

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

// Appends "(#" counter ":) " (or "(#body:) " when `body`) and advances the
// counter: the head of an entry whose text and two spaces follow.
void append_entry_head(field_text& field, int& counter, bool body);

// Appends "(#" counter ":) " text "  " and advances the counter.
void append_entry(field_text& field, int& counter, std::string_view text);

// Doubles every double quote of the field, for the quoted form of the listing.
// Text beyond the field's capacity is dropped.
void double_quotes(field_text& field, field_text& work);

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

template <std::size_t N>
void append_number(bounded_text<N>& out, long long value, int width, char pad) {
  // The record's dates are mostly two-digit parts: written straight away.
  if (value >= 0 && value < 100 && width == 2 && out.length + 2 <= N) {
    out.bytes[out.length] = value < 10 ? pad : static_cast<char>('0' + value / 10);
    out.bytes[out.length + 1] = static_cast<char>('0' + value % 10);
    out.length += 2;
    out.bytes[out.length] = '\0';
    return;
  }
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;  // 24 bytes hold every long long
  std::string_view text(digits, static_cast<std::size_t>(end - digits));
  int fill = width - static_cast<int>(text.size());
  // Zeros go after the sign, spaces before it.
  if (pad == '0' && value < 0) {
    out.push_back('-');
    text.remove_prefix(1);
  }
  for (; fill > 0; --fill) out.push_back(pad);
  out.append(text);
}
