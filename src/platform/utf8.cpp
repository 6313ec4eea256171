#include "platform/utf8.h"

std::size_t utf8_sequence_length(std::string_view text, std::size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t n = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 1;
  for (std::size_t i = 1; i < n; ++i) {
    if (at + i >= text.size() || !is_utf8_continuation(static_cast<unsigned char>(text[at + i])))
      return 1;
  }
  return n;
}

char32_t utf8_code(std::string_view text, std::size_t at, std::size_t length) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  if (length == 1) return lead;
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  }
  return code;
}

std::size_t well_formed_utf8_length(std::string_view text, std::size_t at) {
  unsigned char c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  // The lead byte gives the length and the range of the second byte (which rules
  // out overlong forms, surrogates and code points past U+10FFFF).
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    unsigned char d = static_cast<unsigned char>(text[at + k]);
    if (k == 1 ? (d < low || d > high) : (d & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = well_formed_utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}
