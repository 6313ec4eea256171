// The matcher of the header rules: rule literals laid out for comparing 8 bytes at
// a time. The filter of the marks worth a look, which the line reader applies to a
// whole chunk, is the sources' (listing/sources/mark_filter.h); the tables built
// from the rule table live with the rules.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/sources/mark_filter.h"

// A literal laid out for comparing 8 bytes at a time, ignoring case: three
// 8-byte loads at `at` (the last one ending at the literal's end, or all at 0
// for a literal shorter than 8), each with `fold` ORed in, which sets bit 5 of
// the letters' bytes so that A-Z meets a-z, then compared with `folded`, the
// literal so treated, in the bytes `care` covers. A literal that needs fewer
// loads repeats its last one.
struct literal_words {
  std::array<std::size_t, 3> at{};
  std::array<uint64_t, 3> folded{};
  std::array<uint64_t, 3> fold{};
  std::array<uint64_t, 3> care{};
};
constexpr std::size_t k_longest_literal = 24;

constexpr literal_words words_of(std::string_view text) {
  literal_words words;
  std::size_t size = text.size();
  for (std::size_t k = 0; k < 3; ++k) {
    std::size_t at = size <= 8 ? 0 : std::min<std::size_t>(8 * k, size - 8);
    words.at[k] = at;
    for (std::size_t j = 0; j < 8 && at + j < size; ++j) {
      auto c = static_cast<unsigned char>(text[at + j]);
      uint64_t letter_bit = is_ascii_letter(static_cast<char>(c)) ? 0x20 : 0;
      // The bytes as one load puts them in a register.
      std::size_t shift = std::endian::native == std::endian::little ? 8 * j : 8 * (7 - j);
      words.folded[k] |= (c | letter_bit) << shift;
      words.fold[k] |= letter_bit << shift;
      words.care[k] |= uint64_t{0xFF} << shift;
    }
  }
  return words;
}

// A rule's literal with the place of its first ':' or '=' (its size when it has
// neither), worked out when the table is built.
struct rule_literal {
  std::string_view text;
  std::size_t mark = 0;
  literal_words words;
  constexpr rule_literal() = default;
  constexpr rule_literal(const char* literal) : text(literal), mark(0), words(words_of(literal)) {
    while (mark < text.size() && text[mark] != ':' && text[mark] != '=') ++mark;
  }
};

// Whether `text`, which holds at least as many bytes as `literal`, begins with
// it, ignoring the case of A-Z: a few loads and no branch on where they part,
// which the processor could not foresee.
inline bool begins_ignoring_case(std::string_view text, const rule_literal& literal) {
  // A load may not reach past the text.
  if (text.size() < 8) return ascii_istarts_with(text, literal.text);
  const literal_words& words = literal.words;
  uint64_t differ = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    uint64_t word;
    std::memcpy(&word, text.data() + words.at[k], sizeof word);
    differ |= ((word | words.fold[k]) ^ words.folded[k]) & words.care[k];
  }
  return differ == 0;
}

// Both cases of an ASCII letter (any other byte twice), for the tables below.
constexpr std::array<char, 2> both_cases(char c) {
  if (c >= 'a' && c <= 'z') return {c, static_cast<char>(c - 32)};
  if (c >= 'A' && c <= 'Z') return {c, static_cast<char>(c + 32)};
  return {c, c};
}

inline bool starts_with_literal(std::string_view text, const rule_literal& literal, bool any_case) {
  // The first byte decides for almost every line; the rest is compared only then.
  if (text.empty() || ascii_upper(text[0]) != ascii_upper(literal.text[0])) return false;
  if (text.size() < literal.text.size()) return false;
  return any_case ? begins_ignoring_case(text, literal) : text.starts_with(literal.text);
}
