#include "listing/record/readable_text.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view k_replacement = "\xEF\xBF\xBD";
// Taken where nothing better is known: what mail programs assume of 8-bit text.
constexpr std::string_view k_fallback_charset = "windows-1252";

// One RFC 2047 encoded word found in a text.
struct encoded_word {
  std::size_t begin = 0;
  std::size_t end = 0;  // just past "?="
  std::string_view charset;
  char encoding = 0;  // 'B' or 'Q'
  std::string_view payload;
};

constexpr bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Whether `payload` is base64 this decoder takes: the alphabet, then no more '='
// of padding than the last group lacks (some or all of it may be missing) and
// nothing after; a lone last character makes no byte.
bool is_valid_base64(std::string_view payload) {
  std::size_t data = 0;
  while (data < payload.size() && base64_value(payload[data]) >= 0) ++data;
  if (payload.find_first_not_of('=', data) != std::string_view::npos) return false;
  if (data % 4 == 1) return false;
  std::size_t padding = payload.size() - data;
  return padding <= (4 - data % 4) % 4;
}

// Whether the word's parts are well formed: a charset, B or Q, and (for B) a
// payload that decodes. Nothing else separates a word from text that looks like one.
bool is_decodable(const encoded_word& word) {
  if (word.charset.empty()) return false;
  if (word.encoding == 'Q') return true;
  return word.encoding == 'B' && is_valid_base64(word.payload);
}

// The encoded word that starts at `at` ("=?" there), if one does: the charset and
// payload hold no '?' and no white space.
bool read_encoded_word(std::string_view text, std::size_t at, encoded_word& word) {
  std::size_t charset_end = at + 2;
  while (charset_end < text.size() && text[charset_end] != '?' && !is_white(text[charset_end]))
    ++charset_end;
  if (charset_end + 3 > text.size() || text[charset_end] != '?' || text[charset_end + 2] != '?')
    return false;
  std::size_t payload_start = charset_end + 3;
  std::size_t payload_end = payload_start;
  while (payload_end < text.size() && text[payload_end] != '?' && !is_white(text[payload_end]))
    ++payload_end;
  if (payload_end + 1 >= text.size() || text[payload_end] != '?' || text[payload_end + 1] != '=')
    return false;
  std::string_view charset = text.substr(at + 2, charset_end - at - 2);
  // RFC 2231 puts a language after the charset: "utf-8*en".
  charset = charset.substr(0, charset.find('*'));
  word = {at, payload_end + 2, charset, ascii_upper(text[charset_end + 1]),
          text.substr(payload_start, payload_end - payload_start)};
  return is_decodable(word);
}

// The next encoded word at or after `from`; false when there is none.
bool find_encoded_word(std::string_view text, std::size_t from, encoded_word& word) {
  for (std::size_t at = text.find("=?", from); at != std::string_view::npos;
       at = text.find("=?", at + 1)) {
    if (read_encoded_word(text, at, word)) return true;
  }
  return false;
}

void decode_base64(std::string_view payload, std::string& out) {
  uint32_t bits = 0;
  int count = 0;
  for (char c : payload) {
    int value = base64_value(c);
    if (value < 0) break;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
}

void decode_q(std::string_view payload, std::string& out) {
  for (std::size_t i = 0; i < payload.size(); ++i) {
    char c = payload[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=' && i + 2 < payload.size() && hex_value(payload[i + 1]) >= 0 &&
               hex_value(payload[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(payload[i + 1]) * 16 + hex_value(payload[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
}

bool is_utf8_name(std::string_view charset) {
  return ascii_iequal(charset, "utf-8") || ascii_iequal(charset, "utf8");
}

// How append_clean_utf8 treats what it is given.
struct cleaning {
  // A line break becomes a space (text decoded from a word, so that no word can
  // end a record's line).
  bool breaks_to_spaces = false;
  // A C1 control becomes U+FFFD (text a charset was converted from: there they
  // stand for bytes of a windows-125x page the label did not name, or bytes one
  // system's table leaves undefined where the other's gives the control).
  bool c1_to_replacement = false;
};

bool is_c1_control(std::string_view text, std::size_t at, std::size_t length) {
  return length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

// Appends `text` with each byte outside a valid UTF-8 sequence, and a NUL, as U+FFFD.
void append_clean_utf8(std::string& out, std::string_view text, cleaning how) {
  std::size_t i = 0;
  while (i < text.size()) {
    // A run of printable ASCII, as most text is, goes over in one append.
    std::size_t run = i;
    while (run < text.size() && static_cast<unsigned char>(text[run] - 0x20) < 0x5F) ++run;
    if (run > i) {
      out.append(text, i, run - i);
      i = run;
      if (i == text.size()) break;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : well_formed_utf8_length(text, i);
    if (length == 0 || c == 0) {
      out += k_replacement;
      ++i;
    } else if (how.c1_to_replacement && is_c1_control(text, i, length)) {
      out += k_replacement;
      i += length;
    } else if (how.breaks_to_spaces && (c == '\r' || c == '\n')) {
      out += ' ';
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
}

// Appends `bytes` taken in `charset` as clean UTF-8; false when the system does not
// know the charset. UTF-8 itself is checked here rather than by the system, so
// that both platforms replace the same bytes.
bool append_converted(std::string& out, std::string_view bytes, std::string_view charset,
                      bool breaks_to_spaces, readable_work& work) {
  if (is_utf8_name(charset)) {
    append_clean_utf8(out, bytes, {.breaks_to_spaces = breaks_to_spaces});
    return true;
  }
  std::string& converted = work.converted;
  converted.clear();
  charset_conversion got = g_platform.convert_charset(work.converters, charset, bytes, converted);
  // Not a fact about the text: taken for an unknown charset, it would change
  // the record without a word.
  if (got == charset_conversion::no_resources) answer_failed_allocation();
  if (got != charset_conversion::converted) return false;
  // The backend's output is checked too: whatever a system gives, the listing holds
  // only valid UTF-8.
  append_clean_utf8(out, converted,
                    {.breaks_to_spaces = breaks_to_spaces, .c1_to_replacement = true});
  return true;
}

// Bytes that no named charset explains: valid UTF-8 stays, else windows-1252.
void append_guessed(std::string& out, std::string_view bytes, bool breaks_to_spaces,
                    readable_work& work) {
  if (is_valid_utf8(bytes) ||
      !append_converted(out, bytes, k_fallback_charset, breaks_to_spaces, work)) {
    append_clean_utf8(out, bytes, {.breaks_to_spaces = breaks_to_spaces});
  }
}

// Appends the bytes a word decodes to.
void decode_word(const encoded_word& word, std::string& out) {
  if (word.encoding == 'B') {
    decode_base64(word.payload, out);
  } else {
    decode_q(word.payload, out);
  }
}

// Appends bytes decoded from words of one charset.
void append_word_bytes(std::string& out, std::string_view bytes, std::string_view charset,
                       readable_work& work) {
  if (!append_converted(out, bytes, charset, true, work)) append_guessed(out, bytes, true, work);
}

// Whether every byte of `text` outside its encoded words is valid UTF-8.
bool plain_text_is_utf8(std::string_view text) {
  // ASCII is UTF-8 wherever its words stand: no need to find them.
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return true;
  std::size_t from = 0;
  encoded_word word;
  while (find_encoded_word(text, from, word)) {
    if (!is_valid_utf8(text.substr(from, word.begin - from))) return false;
    from = word.end;
  }
  return is_valid_utf8(text.substr(from));
}

void append_plain(std::string& out, std::string_view plain, bool as_utf8,
                  std::string_view charset, readable_work& work) {
  if (plain.empty()) return;
  if (as_utf8) {
    append_clean_utf8(out, plain, {});
    return;
  }
  if (!charset.empty() && append_converted(out, plain, charset, false, work)) return;
  if (!append_converted(out, plain, k_fallback_charset, false, work))
    append_clean_utf8(out, plain, {});
}

// Whether the byte at `at` is a control character other than tab, DEL or above, or
// the '=' of a "=?".
bool byte_needs_decoding(std::string_view text, std::size_t at) {
  auto c = static_cast<unsigned char>(text[at]);
  if ((c < 0x20 && c != '\t') || c >= 0x7F) return true;
  return c == '=' && at + 1 < text.size() && text[at + 1] == '?';
}

// ascii_ifind from `from` on, as an offset into the whole text.
std::size_t find_after(std::string_view text, std::string_view needle, std::size_t from) {
  std::size_t found = ascii_ifind(text.substr(from), needle);
  return found == std::string_view::npos ? found : from + found;
}

bool is_all_white(std::string_view text) {
  for (char c : text) {
    if (!is_white(c)) return false;
  }
  return true;
}

}  // namespace

void append_readable_text(std::string& out, std::string_view text, std::string_view charset,
                          readable_work& work) {
  bool as_utf8 = plain_text_is_utf8(text);
  // Adjacent words of one charset are decoded together, as mail readers do: some
  // senders split a character's bytes between two words.
  std::string& pending = work.pending;
  pending.clear();
  std::string_view pending_charset;
  std::size_t from = 0;
  encoded_word word;
  while (find_encoded_word(text, from, word)) {
    std::string_view between = text.substr(from, word.begin - from);
    // RFC 2047 6.2: white space between two adjacent encoded words is not shown.
    bool adjacent = !pending_charset.empty() && is_all_white(between);
    if (!adjacent || !ascii_iequal(pending_charset, word.charset)) {
      if (!pending_charset.empty()) append_word_bytes(out, pending, pending_charset, work);
      pending.clear();
    }
    if (!adjacent) append_plain(out, between, as_utf8, charset, work);
    decode_word(word, pending);
    pending_charset = word.charset;
    from = word.end;
  }
  if (!pending_charset.empty()) append_word_bytes(out, pending, pending_charset, work);
  append_plain(out, text.substr(from), as_utf8, charset, work);
}

void append_valid_utf8(std::string& out, std::string_view text) {
  append_clean_utf8(out, text, {});
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  std::size_t length = limit;
  while (length > 0 && is_utf8_continuation(static_cast<unsigned char>(text[length]))) --length;
  return length;
}

bool needs_decoding(std::string_view text) {
  // Eight bytes at a time: a chunk with no byte below a space, none at or above
  // DEL and no '=' needs no closer look, and that is nearly every chunk of a field.
  constexpr uint64_t ones = 0x0101010101010101ULL;
  constexpr uint64_t highs = 0x8080808080808080ULL;
  std::size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time where SSE2 allows: bytes outside tab and space to '~'
  // at once, then each '=' for a '?' after it.
  const __m128i below_space = _mm_set1_epi8(0x1F);
  const __m128i from_del = _mm_set1_epi8(0x7F);
  for (; i + 16 <= text.size(); i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    __m128i odd = _mm_or_si128(
        _mm_cmpeq_epi8(_mm_max_epu8(x, from_del), x),
        _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\t')),
                         _mm_cmpeq_epi8(_mm_min_epu8(x, below_space), x)));
    if (_mm_movemask_epi8(odd) != 0) return true;
    for (auto equals = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('='))));
         equals != 0; equals &= equals - 1) {
      if (byte_needs_decoding(text, i + static_cast<std::size_t>(std::countr_zero(equals)))) return true;
    }
  }
#endif
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t x;
    std::memcpy(&x, text.data() + i, 8);
    uint64_t del = x ^ (ones * 0x7F);
    uint64_t equals = x ^ (ones * '=');
    uint64_t flags = (x & highs) | ((x - ones * 0x20) & ~x & highs) |
                     ((del - ones) & ~del & highs) | ((equals - ones) & ~equals & highs);
    if (flags != 0) {
      for (std::size_t k = i; k < i + 8; ++k) {
        if (byte_needs_decoding(text, k)) return true;
      }
    }
  }
  for (; i < text.size(); ++i) {
    if (byte_needs_decoding(text, i)) return true;
  }
  return false;
}

std::string_view content_type_charset(std::string_view content_type_text) {
  std::string_view text = content_type_text;
  // Most Content-Type lines name no parameter at all.
  if (text.find('=') == std::string_view::npos) return {};
  for (std::size_t at = ascii_ifind(text, "charset"); at != std::string_view::npos;
       at = find_after(text, "charset", at + 1)) {
    // A parameter name, not the end of another word ("xcharset").
    if (at > 0 && !is_white(text[at - 1]) && text[at - 1] != ';') continue;
    std::size_t i = at + 7;
    while (i < text.size() && is_white(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && is_white(text[i])) ++i;
    if (i < text.size() && text[i] == '"') {
      std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) close = text.size();
      return text.substr(i + 1, close - i - 1);
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ';' && !is_white(text[end])) ++end;
    return text.substr(i, end - i);
  }
  return {};
}
