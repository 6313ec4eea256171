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
