#include "discovery/wildcard.h"

#include <cstddef>
#include <cstdint>

#include "INCLUDE_U/text.h"

namespace {

// Names and patterns are UTF-8; the matcher compares whole characters, so that
// "?" takes one character and set ranges compare code points, as they compare
// UTF-16 units on Windows. A byte that does not start a valid sequence counts
// as one character of its own value.
struct text_cursor {
  std::string_view text;
  std::size_t at = 0;

  bool at_end() const { return at >= text.size(); }
  // The character at the cursor and its length in bytes; 0, 0 at the end.
  char32_t peek(std::size_t& length) const;
  char32_t take() {
    std::size_t length = 0;
    char32_t c = peek(length);
    at += length;
    return c;
  }
};

char32_t text_cursor::peek(std::size_t& length) const {
  length = 0;
  if (at_end()) return 0;
  length = utf8_sequence_length(text, at);
  return utf8_code(text, at, length);
}

// A failure after a "*" that tried every later position of the name cannot be
// helped by moving an earlier "*" further on: that only leaves fewer positions.
// Reporting it as given_up ends the search at once, so that patterns with many
// stars take time in proportion to pattern times name, not exponential time.
enum class match_result { matches, fails, given_up };

match_result match_from(text_cursor pattern, text_cursor name);

// One set item: a character, "\" taking the next one literally. False when the
// pattern ends first.
bool take_set_item(text_cursor& pattern, char32_t& out) {
  std::size_t length = 0;
  if (pattern.peek(length) == U'\\') pattern.at += length;
  if (pattern.at_end()) return false;
  out = pattern.take();
  return true;
}

enum class set_outcome { takes_character, refuses, unterminated };

// The set that starts at the "[" under the cursor, tested against `c`; on return
// the cursor stands after its "]".
set_outcome match_set(text_cursor& pattern, char32_t c) {
  pattern.take();  // "["
  std::size_t length = 0;
  bool negated = false;
  char32_t first = pattern.peek(length);
  if (!pattern.at_end() && (first == U'!' || first == U'^')) {
    negated = true;
    pattern.at += length;
  }
  bool found = false;
  for (bool first_item = true;; first_item = false) {
    if (pattern.at_end()) return set_outcome::unterminated;
    if (!first_item && pattern.peek(length) == U']') {
      pattern.at += length;
      break;
    }
    char32_t low = 0;
    if (!take_set_item(pattern, low)) return set_outcome::unterminated;
    char32_t high = low;
    text_cursor ahead = pattern;
    if (!ahead.at_end() && ahead.take() == U'-' && !ahead.at_end() && ahead.peek(length) != U']') {
      pattern = ahead;
      if (!take_set_item(pattern, high)) return set_outcome::unterminated;
    }
    if (c >= low && c <= high) found = true;
  }
  return found != negated ? set_outcome::takes_character : set_outcome::refuses;
}

// After a "*": further "*" and "?" each take one character (a "*" meeting the
// end of the name takes nothing); then every later position of the name where
// the next pattern character can start is tried.
match_result match_star(text_cursor pattern, text_cursor name) {
  std::size_t length = 0;
  for (;;) {
    char32_t c = pattern.peek(length);
    if (pattern.at_end() || (c != U'*' && c != U'?')) break;
    if (name.at_end() && c == U'?') return match_result::fails;
    pattern.at += length;
    if (!name.at_end()) name.take();
  }
  if (pattern.at_end()) return match_result::matches;
  text_cursor literal = pattern;
  char32_t next = literal.take();
  if (next == U'\\') {
    // A lone "\" at the end of the pattern escapes nothing and matches nothing.
    if (literal.at_end()) return match_result::fails;
    next = literal.take();
  }
  for (; !name.at_end(); name.take()) {
    if (next != U'[' && name.peek(length) != next) continue;
    match_result rest = match_from(pattern, name);
    if (rest != match_result::fails) return rest;
  }
  return match_result::given_up;
}

match_result match_from(text_cursor pattern, text_cursor name) {
  for (;;) {
    if (pattern.at_end()) return name.at_end() ? match_result::matches : match_result::fails;
    std::size_t length = 0;
    char32_t p = pattern.peek(length);
    if (p == U'*') {
      pattern.at += length;
      return match_star(pattern, name);
    }
    if (name.at_end()) return match_result::fails;
    if (p == U'[') {
      if (match_set(pattern, name.take()) != set_outcome::takes_character) {
        return match_result::fails;
      }
      continue;
    }
    pattern.at += length;
    if (p == U'?') {
      name.take();
      continue;
    }
    if (p == U'\\') {
      if (pattern.at_end()) return match_result::fails;
      p = pattern.take();
    }
    if (p != name.take()) return match_result::fails;
  }
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
  return match_from(text_cursor{pattern, 0}, text_cursor{name, 0}) == match_result::matches;
}
