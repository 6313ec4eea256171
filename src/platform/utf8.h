// UTF-8, bytes only: the shape of its sequences and the one check of which are
// well formed, the floor under both the platform layer (names matched and
// converted character by character) and the generic text routines of
// INCLUDE_U/text.h, which passes these on. Includes nothing of ours.
#pragma once

#include <cstddef>
#include <string_view>

// True for a byte that continues a UTF-8 sequence rather than starting a character.
constexpr bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
// Length of the UTF-8 sequence that starts at `at`, read by the shape of its bytes
// alone; a stray or cut-short byte counts as one character of its own.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at = 0);
// Code of the sequence at `at` that utf8_sequence_length measured as `length` bytes;
// a byte taken alone is its own code.
char32_t utf8_code(std::string_view text, std::size_t at, std::size_t length);
// Length of the well-formed UTF-8 sequence that starts at `at`; 0 when there is
// none (an overlong form, a surrogate, a code point past U+10FFFF, a stray or
// cut-short byte).
std::size_t well_formed_utf8_length(std::string_view text, std::size_t at);
// True when `text` is well-formed UTF-8 throughout.
bool is_valid_utf8(std::string_view text);
