#include "listing/sources/mailbox.h"

#include "INCLUDE_U/text.h"

namespace {

// Whether a time of day, one or two digits, ':' and two digits, stands in `text`.
bool holds_time_of_day(std::string_view text) {
  for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
       colon = text.find(':', colon + 1)) {
    if (colon == 0 || colon + 2 >= text.size() || !is_ascii_digit(text[colon - 1])) continue;
    if (is_ascii_digit(text[colon + 1]) && is_ascii_digit(text[colon + 2])) return true;
  }
  return false;
}

// Whether a number of exactly four digits stands in `text`.
bool holds_four_digit_year(std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && is_ascii_digit(text[i])) {
      ++run;
      continue;
    }
    // A time's digits are followed or led by ':', a year's are not.
    bool by_colon = (i < text.size() && text[i] == ':') || (run < i && text[i - run - 1] == ':');
    if (run == 4 && !by_colon) return true;
    run = 0;
  }
  return false;
}

}  // namespace

bool is_separator_line(std::string_view line) {
  constexpr std::string_view k_from = "From ";
  if (line.substr(0, k_from.size()) != k_from) return false;
  std::string_view rest = line.substr(k_from.size());
  // The sender word: at least one byte that is not white space.
  if (rest.empty() || is_ascii_space(rest.front())) return false;
  std::size_t word_end = 0;
  while (word_end < rest.size() && !is_ascii_space(rest[word_end])) ++word_end;
  std::string_view stamp = rest.substr(word_end);
  return holds_time_of_day(stamp) && holds_four_digit_year(stamp);
}
