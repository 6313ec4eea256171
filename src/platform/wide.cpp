#include "platform/wide.h"

#include <cstdint>

#include "platform/utf8.h"

namespace {

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one sequence at `i`; returns the code point or -1 for a bad byte.
// Surrogate code points (as WTF-8 writes them: ED A0-BF 80-BF) are accepted when
// `allow_surrogates`.
int32_t decode_utf8(std::string_view s, std::size_t& i, bool allow_surrogates) {
  std::size_t n = well_formed_utf8_length(s, i);
  bool surrogate = n == 0 && allow_surrogates && i + 2 < s.size() &&
                   static_cast<unsigned char>(s[i]) == 0xED &&
                   static_cast<unsigned char>(s[i + 1]) >= 0xA0 &&
                   is_utf8_continuation(static_cast<unsigned char>(s[i + 1])) &&
                   is_utf8_continuation(static_cast<unsigned char>(s[i + 2]));
  if (surrogate) n = 3;
  if (n == 0) {
    ++i;
    return -1;
  }
  uint32_t cp = utf8_code(s, i, n);
  i += n;
  return static_cast<int32_t>(cp);
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    put_utf8(out, u);
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    int32_t cp = decode_utf8(text, i, true);
    // A byte that is not UTF-8 is kept as the code point of the same value, so
    // that no name is lost.
    if (cp < 0) cp = static_cast<unsigned char>(text[i - 1]);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}
