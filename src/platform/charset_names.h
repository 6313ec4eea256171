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

// The last few answers a backend found for charset names (a converter, a code
// page, "none" among them), kept per thread: asking the system per field would
// be slow.
template <typename answer, int slots>
struct charset_answers {
  charset_name names[slots];
  answer answers[slots] = {};
  bool used[slots] = {};
  int next = 0;

  // The answer kept for `name`, or null.
  answer* find(const charset_name& name) {
    for (int i = 0; i < slots; ++i) {
      if (used[i] && names[i].view() == name.view()) return &answers[i];
    }
    return nullptr;
  }
  // The oldest slot, now named `name`, for its answer; `held` says whether it held
  // one before, which the caller frees first where answers must be freed.
  answer& oldest_for(const charset_name& name, bool& held) {
    int slot = next;
    next = (next + 1) % slots;
    held = used[slot];
    names[slot] = name;
    used[slot] = true;
    return answers[slot];
  }
};
