// MIME charset names as both backends take them, so that Linux and Windows read a
// message's text the same way: one spelling per charset, and the aliases mail
// programs treat as a wider charset (gb2312 as GBK, big5 as cp950, shift_jis as
// cp932, euc-kr as cp949) taken as that charset on both.
#pragma once

#include <cstddef>
#include <string_view>

// A charset name in lower case, bounded.
struct charset_name {
  static constexpr std::size_t capacity = 40;
  char bytes[capacity] = {};
  std::size_t length = 0;
  std::string_view view() const { return {bytes, length}; }
};

// `name` in lower case; false for a name no system charset has: empty, longer than
// the bound, or holding a character other than letters, digits and "-_.:+()" (so
// that no name can pass options to a converter, such as "//IGNORE").
bool normalize_charset_name(std::string_view name, charset_name& out);
// The name both backends convert a normalized name by: the wider charset for the
// aliases above and for spellings one system lacks, else `name` itself.
std::string_view agreed_charset_name(std::string_view name);
