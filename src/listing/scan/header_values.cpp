#include "listing/scan/header_values.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "listing/sources/line_reader.h"

namespace {

constexpr std::string_view k_month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool is_ascii_letter(char c) { return ascii_upper(c) >= 'A' && ascii_upper(c) <= 'Z'; }

// The literal's character that the search looks for first: a ':' or '=' where it
// has one (rare in body text), else its first non-letter, else its first letter.
std::size_t anchor_of(std::string_view literal) {
  std::size_t other = literal.size();
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] == ':' || literal[i] == '=') return i;
    if (other == literal.size() && !is_ascii_letter(literal[i])) other = i;
  }
  return other == literal.size() ? 0 : other;
}

// Next position in [from, to) holding `c` in either case.
std::size_t find_either_case(std::string_view text, char c, std::size_t from, std::size_t to) {
  if (!is_ascii_letter(c)) {
    const void* hit = std::memchr(text.data() + from, c, to - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
               : std::string_view::npos;
  }
  char upper = ascii_upper(c);
  for (std::size_t i = from; i < to; ++i) {
    if (ascii_upper(text[i]) == upper) return i;
  }
  return std::string_view::npos;
}

// The character at `i` of the line as stored: its text, then the line end.
char stored_char(const message_line& line, std::size_t i) {
  if (i < line.text.size()) return line.text[i];
  return i == line.text.size() && line.line_end ? '\n' : '\0';
}

std::size_t stored_length(const message_line& line) {
  return line.text.size() + (line.line_end ? 1 : 0);
}

bool is_continuation(const message_line& line) {
  // Three characters or fewer, line end included, hold no address worth joining.
  if (stored_length(line) <= 3) return false;
  char first = stored_char(line, 0);
  if (is_ascii_space(first)) return true;
  if (first != '>' || !is_ascii_space(stored_char(line, 1))) return false;
  // A quoted message's next header ("> User-Agent: ...") is a line of its own;
  // only a quoted fold (more white space after "> ") goes on the address.
  return !begins_header(line.text.view().substr(2));
}

// For each letter A-Z, the months (bit m for month m + 1) whose name begins with it.
constexpr std::array<uint16_t, 26> k_months_by_initial = [] {
  std::array<uint16_t, 26> out{};
  for (int m = 0; m < 12; ++m) out[k_month_names[m][0] - 'A'] |= static_cast<uint16_t>(1u << m);
  return out;
}();

// The first month of the table (1-12) whose name find_text finds in `text`, or 0.
// One pass collects every name found; the table's order then decides.
int first_month_named(std::string_view text) {
  if (text.size() <= 3) return 0;
  unsigned found = 0;
  // As in find_text, a name may not end at the text's end.
  for (std::size_t i = 0; i + 3 < text.size(); ++i) {
    char first = ascii_upper(text[i]);
    if (first < 'A' || first > 'Z') continue;
    char second = ascii_lower(text[i + 1]);
    char third = ascii_lower(text[i + 2]);
    for (unsigned months = k_months_by_initial[first - 'A']; months != 0; months &= months - 1) {
      std::string_view name = k_month_names[std::countr_zero(months)];
      if (second == name[1] && third == name[2]) found |= 1u << std::countr_zero(months);
    }
  }
  return found == 0 ? 0 : std::countr_zero(found) + 1;
}

// Whether leading_int may read other than 0 from text starting with `c`.
bool may_start_number(char c) {
  return is_ascii_digit(c) || c == '+' || c == '-' || is_ascii_space(c);
}

// Reads one date-part number at `i` and files it as day or year; false when the
// number is neither.
bool take_date_number(std::string_view line, std::size_t i, parsed_date& date) {
  int v = leading_int(line.substr(i));
  if (v < 32 && date.day == 0) {
    date.day = v;
  } else if (v > 1900) {
    date.year = v;
  } else if (v > 32 && v < 1900 && date.year == 0) {
    date.year = v + 1900;
  } else {
    return false;
  }
  return true;
}

// Two-digit and missing years: the first number above 1990 from the line's ninth
// character on, else the last number read there.
void search_year_again(std::string_view line, parsed_date& date) {
  for (std::size_t i = 8; i < line.size(); ++i) {
    if (line[i] == ' ' || line[i] == ':') continue;
    date.year = leading_int(line.substr(i));
    if (date.year > 1990) return;
  }
}

}  // namespace

std::size_t find_text(std::string_view text, std::string_view literal) {
  const std::size_t n = text.size();
  const std::size_t l = literal.size();
  if (n <= l) return std::string_view::npos;
  if (l == 0) return 0;
  // Start positions run below n - l: a match ending at the text's end is never tried.
  const std::size_t anchor = anchor_of(literal);
  const std::size_t anchor_end = n - l + anchor;
  for (std::size_t at = anchor; at < anchor_end; ++at) {
    at = find_either_case(text, literal[anchor], at, anchor_end);
    if (at == std::string_view::npos) break;
    std::size_t start = at - anchor;
    if (ascii_iequal(text.substr(start, l), literal)) return start;
  }
  return std::string_view::npos;
}

bool begins_header(std::string_view text) {
  if (text.empty() || text[0] <= ' ' || text[0] > '~') return false;
  std::size_t i = 1;
  while (i < text.size() && text[i] != ':' && text[i] != ' ' && text[i] != '\t') ++i;
  return i > 1 && i < text.size() && text[i] == ':';
}

std::size_t quote_marks_length(std::string_view line) {
  if (line.size() < 10 || (line[0] != '*' && line[0] != '>')) return 0;
  std::size_t skip = 0;
  while (skip < line.size() && (line[skip] == '*' || line[skip] == '>')) ++skip;
  if (skip < line.size() && is_ascii_space(line[skip])) ++skip;
  return skip;
}

bool strip_quote_marks(field_text& line) {
  std::size_t skip = quote_marks_length(line.view());
  if (skip == 0) return false;
  std::size_t rest = line.size() - skip;
  std::memmove(line.data(), line.data() + skip, rest);
  line.length = rest;
  line[rest] = '\0';
  return true;
}

void parse_date_line(std::string_view line, parsed_date& date) {
  if (line.size() < 2) return;
  std::size_t space = line.find(' ', 1);
  if (space == std::string_view::npos) return;
  int month = first_month_named(line.substr(space + 1));
  if (month != 0) date.month = month;
  std::size_t i = space + 1;
  while (i < line.size() && !is_ascii_digit(line[i])) ++i;
  while (i < line.size()) {
    // The first "d:" or "dd:" (or " d:") starts the time of day.
    if (i + 2 < line.size() && line[i + 2] == ':') {
      date.time_text.assign(line.substr(i));
      break;
    }
    // A byte that starts no number reads as 0, which changes nothing here.
    if (may_start_number(line[i])) {
      bool filed = take_date_number(line, i, date);
      std::size_t after = i;
      while (after < line.size() && is_ascii_digit(line[after])) ++after;
      // A number that is neither day nor year is passed over whole ("1900" must
      // not be read again as "900"), up to the byte after it, where a time may start.
      if (!filed && after > i) {
        i = after;
        continue;
      }
      if (filed) i = after;
    }
    ++i;
  }
  if (date.year < 1900) search_year_again(line, date);
}

void fold_continuations(line_reader& reader, field_text& field, message_line& work,
                        bool keep_commas) {
  // Most address lines have no continuation, and the next line's first byte,
  // when already read, tells so without reading that line.
  int next = next_byte(reader);
  if (next >= 0 && !is_ascii_space(static_cast<char>(next)) && next != '>') return;
  if (!read_line(reader, work)) return;
  char first = stored_char(work, 0);
  if (is_ascii_space(first) || first == '>') {
    while (is_continuation(work)) {
      if (!keep_commas && field.back() == ',') field.drop_last();
      if (work.text[0] == '\t') work.text[0] = ' ';
      field.append(work.text.view());
      // At the end of the file there is nothing to hand back.
      if (!read_line(reader, work)) return;
    }
  }
  step_back(reader, work);
}

void join_continuation(field_text& field, std::string_view text) {
  if (field.view().ends_with("  ")) field.truncate(field.size() - 2);
  std::size_t start = field.size();
  field.append(text);
  for (std::size_t i = start; i < field.size() && is_ascii_space(field[i]); ++i) {
    if (field[i] == '\t') field[i] = ' ';
  }
  field.append("  ");
}
