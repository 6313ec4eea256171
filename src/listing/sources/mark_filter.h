// The filter of the marks worth a look: which ':' and '=' the line reader notes
// when it searches a chunk. Whoever knows what is looked for (the header rules)
// builds one; the reader only applies it.
#pragma once

#include <array>
#include <cstdint>

#include "INCLUDE_U/text.h"

// 1-26 for the letters A-Z in either case, 0 for every other byte; looked up,
// since a test here would be a branch the processor cannot foresee.
inline constexpr std::array<uint8_t, 256> k_letter_keys = [] {
  std::array<uint8_t, 256> keys{};
  for (unsigned i = 0; i < 26; ++i) {
    keys['a' + i] = static_cast<uint8_t>(i + 1);
    keys['A' + i] = static_cast<uint8_t>(i + 1);
  }
  return keys;
}();

// The two bytes before a mark, letters without their case, other bytes as 0.
constexpr unsigned pair_key(char first, char second) {
  return k_letter_keys[static_cast<unsigned char>(first)] * 32u +
         k_letter_keys[static_cast<unsigned char>(second)];
}

// The pairs of letters that may stand right before a ':' or '=' worth a look: a
// mark after any other pair, or after a byte that is not an ASCII letter, is
// passed over. Whoever knows what is looked for builds it. The table is small
// enough to stay in the fastest cache.
struct mark_filter {
  // Bit (mark is '=') * 1024 + pair_key(first, second); ':' and '=' differ in
  // their bit 2.
  std::array<uint64_t, 32> bits{};

  static constexpr unsigned key(char mark, char first, char second) {
    return (static_cast<unsigned char>(mark) >> 2 & 1) * 1024 + pair_key(first, second);
  }
  // Pairs that are not two letters are never admitted: the key of every other
  // pair has a 0 in it.
  constexpr void admit(char mark, char first, char second) {
    if (!is_ascii_letter(first) || !is_ascii_letter(second)) return;
    unsigned k = key(mark, first, second);
    bits[k / 64] |= uint64_t{1} << (k % 64);
  }
  constexpr bool admits(char mark, char first, char second) const {
    return holds(key(mark, first, second));
  }
  // admits() for a mark known to follow two letters, whose keys are then their
  // low five bits: no table look-up stands between the bytes and the answer.
  constexpr bool admits_after_letters(char mark, char first, char second) const {
    return holds((static_cast<unsigned char>(mark) >> 2 & 1) * 1024 +
                 (static_cast<unsigned char>(first) & 31u) * 32 +
                 (static_cast<unsigned char>(second) & 31u));
  }
  constexpr bool holds(unsigned k) const { return (bits[k / 64] >> (k % 64)) & 1; }
};
