// Bounded byte text and ASCII-only character helpers.
//
// Message content is bytes as stored and names are UTF-8, so character classes
// and case folding here are plain ASCII and never depend on the C locale.
#pragma once

#include <array>
#include <cstdarg>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// The shape of UTF-8 sequences sits a floor lower, with the platform layer that
// reads names by it; its users here keep it through this header.
#include "platform/utf8.h"

// Fixed-capacity text: at most N bytes, always NUL-terminated. Appends keep what
// fits and drop the rest, so no input can overflow it.
template <std::size_t N>
struct bounded_text {
  static constexpr std::size_t capacity = N;
  // Only the length, the text and its terminator are ever set, the length first:
  // a large text that stays short touches only its first page, so many scans side
  // by side stay small.
  std::size_t length = 0;
  std::array<char, N + 1> bytes;

  bounded_text() { bytes[0] = '\0'; }

  void clear() {
    length = 0;
    bytes[0] = '\0';
  }
  // Appends as much of `text` as fits; returns false when something was dropped.
  bool append(std::string_view text) {
    // Copied in one move; `text` may lie inside this text already, hence memmove.
    // Where it fits, as it mostly does, the size is the text's own, which the
    // compiler knows for a literal and then copies inline.
    if (text.size() <= N - length) {
      std::memmove(bytes.data() + length, text.data(), text.size());
      length += text.size();
      bytes[length] = '\0';
      return true;
    }
    std::memmove(bytes.data() + length, text.data(), N - length);
    length = N;
    bytes[length] = '\0';
    return false;
  }
  bool push_back(char c) {
    if (length >= N) return false;
    bytes[length++] = c;
    bytes[length] = '\0';
    return true;
  }
  void assign(std::string_view text) {
    clear();
    append(text);
  }
  // Cuts the text to `n` bytes (no effect when it is already shorter).
  void truncate(std::size_t n) {
    // Bounded by N too, which `length` never passes: the compiler cannot know that.
    if (n < length && n <= N) {
      length = n;
      bytes[length] = '\0';
    }
  }
  // Removes the last byte, if any.
  void drop_last() {
    if (length > 0) truncate(length - 1);
  }
  bool empty() const { return length == 0; }
  std::size_t size() const { return length; }
  char back() const { return length ? bytes[length - 1] : '\0'; }
  char& operator[](std::size_t i) { return bytes[i]; }
  char operator[](std::size_t i) const { return bytes[i]; }
  char* data() { return bytes.data(); }
  const char* c_str() const { return bytes.data(); }
  std::string_view view() const { return std::string_view(bytes.data(), length); }
};

// Appends printf-style text to `out`, keeping at most what fits.
template <std::size_t N>
void append_format(bounded_text<N>& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The same with the arguments as a va_list.
template <std::size_t N>
void append_format_list(bounded_text<N>& out, const char* format, va_list args);

template <std::size_t N>
void append_format_list(bounded_text<N>& out, const char* format, va_list args) {
  // Written in place: vsnprintf keeps to the room left, its NUL included.
  std::size_t room = N - out.length;
  int wanted = std::vsnprintf(out.bytes.data() + out.length, room + 1, format, args);
  if (wanted < 0) {
    out.bytes[out.length] = '\0';
    return;
  }
  out.length += static_cast<std::size_t>(wanted) < room ? static_cast<std::size_t>(wanted) : room;
}

template <std::size_t N>
void append_format(bounded_text<N>& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append_format_list(out, format, args);
  va_end(args);
}

// Appends `value` in decimal as printf's "%*lld" (pad ' ') or "%0*lld" (pad '0')
// writes it with `width`: the record's numbers without formatting at run time.
template <std::size_t N>
void append_number(bounded_text<N>& out, long long value, int width, char pad);

template <std::size_t N>
void append_number(bounded_text<N>& out, long long value, int width, char pad) {
  // The record's dates are mostly two-digit parts: written straight away.
  if (value >= 0 && value < 100 && width == 2 && out.length + 2 <= N) {
    out.bytes[out.length] = value < 10 ? pad : static_cast<char>('0' + value / 10);
    out.bytes[out.length + 1] = static_cast<char>('0' + value % 10);
    out.length += 2;
    out.bytes[out.length] = '\0';
    return;
  }
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;  // 24 bytes hold every long long
  std::string_view text(digits, static_cast<std::size_t>(end - digits));
  int fill = width - static_cast<int>(text.size());
  // Zeros go after the sign, spaces before it.
  if (pad == '0' && value < 0) {
    out.push_back('-');
    text.remove_prefix(1);
  }
  for (; fill > 0; --fill) out.push_back(pad);
  out.append(text);
}

inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// White space as the C library's isspace in the "C" locale.
inline bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// True when both texts are equal, ignoring the case of A-Z. Inline, as the
// header rules compare short lines with it.
inline bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}
// True when `text` begins with `prefix`, ignoring the case of A-Z.
inline bool ascii_istarts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ascii_iequal(text.substr(0, prefix.size()), prefix);
}
// Position of the first occurrence of `needle` in `text` ignoring case, or npos.
std::size_t ascii_ifind(std::string_view text, std::string_view needle);
// Upper-cases the ASCII letters of `text` in place.
void ascii_upper_in_place(std::string& text);
std::string ascii_upper_copy(std::string_view text);

// The leading-number rule: skip white space, an optional sign, then decimal
// digits up to the first other character. No digits give 0; values beyond the
// 64-bit range saturate.
int64_t leading_number(std::string_view text);
// `value` saturated to the int range.
int saturated_int(int64_t value);
// The same, saturated to the int range.
int leading_int(std::string_view text);
// Number of characters the leading-number rule consumes (white space, sign, digits).
std::size_t leading_number_length(std::string_view text);

// Every `from` byte of `text` becomes `to`.
template <std::size_t N>
void replace_byte(bounded_text<N>& text, char from, char to) {
  char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (p[i] == from) p[i] = to;
  }
}

// Writes `text` to `stream` as bytes.
void write_text(std::FILE* stream, std::string_view text);
// Writes text that came from files (names, message fields). On a terminal, control
// characters other than tab (C0, DEL, C1 as UTF-8, and a byte 0x80-0x9F outside any
// UTF-8 sequence) are shown as '?' so that a crafted message cannot drive the
// terminal; elsewhere the bytes go unchanged.
void write_untrusted_text(std::FILE* stream, std::string_view text, bool on_terminal);
// The same, appended to `out`.
void append_untrusted_text(std::string& out, std::string_view text, bool on_terminal);
