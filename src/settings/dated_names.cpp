#include "settings/dated_names.h"

#include <cstdio>
#include <string_view>

#include "INCLUDE_U/clock.h"
#include "platform/platform.h"

namespace {

// Where a mask begins, tried in this order; the separator itself stays in the name.
enum class mask_lead { separator, none };
struct mask_search {
  mask_lead lead;
  const char* word;
};
constexpr mask_search k_mask_searches[] = {
    {mask_lead::separator, "MMDD"},    {mask_lead::separator, "YYYY"},
    {mask_lead::separator, "YYMM"},    {mask_lead::separator, "YY"},
    {mask_lead::none, "COMPUTERNAME"},
};

enum class mask_value { computer, year4, year2, month, day, hour, minute, second };
struct mask_word {
  const char* word;
  bool any_case;
  mask_value value;
};
// Tried in this order at each position; "MM" is the month and "mm" the minutes.
constexpr mask_word k_mask_words[] = {
    {"COMPUTERNAME", false, mask_value::computer},
    {"YYYY", false, mask_value::year4},
    {"YY", false, mask_value::year2},
    {"MM", false, mask_value::month},
    {"DD", false, mask_value::day},
    {"HH", true, mask_value::hour},
    {"mm", false, mask_value::minute},
    {"ss", false, mask_value::second},
};

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool word_at(std::string_view text, std::size_t at, const mask_word& word) {
  std::string_view w(word.word);
  if (text.size() - at < w.size()) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char c = text[at + i];
    if (word.any_case ? fold(c) != w[i] : c != w[i]) return false;
  }
  return true;
}

// Position of the first character of the mask, or npos when the name has none.
std::size_t find_mask_start(const std::string& name) {
  for (const mask_search& search : k_mask_searches) {
    std::string text;
    if (search.lead == mask_lead::separator) text += k_path_separator;
    text += search.word;
    std::size_t at = name.find(text);
    if (at != std::string::npos) return search.lead == mask_lead::separator ? at + 1 : at;
  }
  return std::string::npos;
}

void append_number(std::string& out, const char* format, int value) {
  char text[32];
  int n = std::snprintf(text, sizeof text, format, value);
  if (n > 0) out.append(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1);
}

void append_value(std::string& out, mask_value value, const calendar_time& now) {
  switch (value) {
    case mask_value::computer:
      computer_name_into(out);
      break;
    case mask_value::year4:
      append_number(out, "%04d", now.year);
      break;
    // Years before 2000 give a negative field, as names made so far carry it.
    case mask_value::year2:
      append_number(out, "%02d", now.year - 2000);
      break;
    case mask_value::month:
      append_number(out, "%02d", now.month);
      break;
    case mask_value::day:
      append_number(out, "%02d", now.day);
      break;
    case mask_value::hour:
      append_number(out, "_%02d", now.hour);
      break;
    case mask_value::minute:
      append_number(out, "%02d", now.minute);
      break;
    case mask_value::second:
      append_number(out, "%02d", now.second);
      break;
  }
}

// The literal: everything after the first "=" at or after `at`, or after the
// first ":" when there is no "="; npos when neither follows.
std::size_t literal_start(std::string_view mask, std::size_t at) {
  std::size_t sign = mask.find('=', at);
  if (sign == std::string_view::npos) sign = mask.find(':', at);
  return sign == std::string_view::npos ? sign : sign + 1;
}

// Mask words become their values; a literal ends the scan; any other character is
// dropped.
std::string expand_mask(std::string_view mask, const calendar_time& now) {
  std::string out;
  std::size_t at = 0;
  while (at < mask.size()) {
    const mask_word* found = nullptr;
    for (const mask_word& word : k_mask_words) {
      if (word_at(mask, at, word)) {
        found = &word;
        break;
      }
    }
    if (found) {
      append_value(out, found->value, now);
      at += std::string_view(found->word).size();
      continue;
    }
    std::size_t literal = literal_start(mask, at);
    if (literal != std::string_view::npos) {
      out.append(mask.substr(literal));
      break;
    }
    ++at;
  }
  return out;
}

}  // namespace

bool has_dated_mask(const std::string& name) { return find_mask_start(name) != std::string::npos; }

int expand_dated_name(std::string& name) {
  std::size_t start = find_mask_start(name);
  if (start == std::string::npos) return 0;
  // The tail runs from the first "." of the whole name, directories included.
  std::size_t dot = name.find('.');
  std::string tail = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string_view mask = std::string_view(name).substr(start);
  calendar_time now;
  int64_t seconds = current_time();
  bool in_utc = mask.find('G') != std::string_view::npos;
  bool converted = in_utc ? utc_parts(seconds, now) : local_parts(seconds, now);
  if (!converted) now = calendar_time{};
  std::string expansion = expand_mask(mask, now);
  name.resize(start);
  name += expansion;
  name += tail;
  return 0;
}

int computer_name_into(std::string& out) {
  std::string computer;
  if (!g_platform.computer_name(computer)) return 0;
  out += computer;
  return static_cast<int>(computer.size());
}
