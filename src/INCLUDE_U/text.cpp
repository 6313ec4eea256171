#include "INCLUDE_U/text.h"

#include <climits>

std::size_t ascii_ifind(std::string_view text, std::string_view needle) {
  if (needle.empty()) return 0;
  if (needle.size() > text.size()) return std::string_view::npos;
  // The first byte in either case is looked for first: most places have neither.
  char lower = ascii_lower(needle[0]);
  char upper = ascii_upper(needle[0]);
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (text[i] != lower && text[i] != upper) continue;
    if (ascii_iequal(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

void ascii_upper_in_place(std::string& text) {
  for (char& c : text) c = ascii_upper(c);
}

std::string ascii_upper_copy(std::string_view text) {
  std::string copy(text);
  ascii_upper_in_place(copy);
  return copy;
}

std::size_t leading_number_length(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_ascii_space(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits_at = i;
  while (i < text.size() && is_ascii_digit(text[i])) ++i;
  return i == digits_at ? 0 : i;
}

int64_t leading_number(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_ascii_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate as a negative number so that INT64_MIN is reachable without overflow.
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && is_ascii_digit(text[i]); ++i) {
    int digit = text[i] - '0';
    if (!saturated) {
      if (value < (INT64_MIN + digit) / 10) {
        saturated = true;
      } else {
        value = value * 10 - digit;
      }
    }
  }
  if (saturated) return negative ? INT64_MIN : INT64_MAX;
  if (negative) return value;
  return value == INT64_MIN ? INT64_MAX : -value;
}

int saturated_int(int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int leading_int(std::string_view text) { return saturated_int(leading_number(text)); }

void write_text(std::FILE* stream, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

namespace {

// Passes `text` to `emit` piece by piece, each control character as '?'.
template <typename sink>
void pass_untrusted_text(std::string_view text, sink emit) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : well_formed_utf8_length(text, i);
    // C0, DEL, C1 written as UTF-8, and a lone byte 0x80-0x9F, which some
    // terminals take as a C1 control (0x9B starts a control sequence).
    bool control = (c < 0x20 && c != '\t') || c == 0x7F ||
                   (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) ||
                   (length == 0 && c <= 0x9F);
    std::size_t step = length == 0 ? 1 : length;
    if (control) {
      emit(text.substr(start, i - start));
      emit(std::string_view("?"));
      start = i + step;
    }
    i += step;
  }
  emit(text.substr(start));
}

}  // namespace

void write_untrusted_text(std::FILE* stream, std::string_view text, bool on_terminal) {
  if (!on_terminal) {
    write_text(stream, text);
    return;
  }
  pass_untrusted_text(text, [stream](std::string_view piece) { write_text(stream, piece); });
}

void append_untrusted_text(std::string& out, std::string_view text, bool on_terminal) {
  if (!on_terminal) {
    out.append(text);
    return;
  }
  pass_untrusted_text(text, [&out](std::string_view piece) { out.append(piece); });
}
