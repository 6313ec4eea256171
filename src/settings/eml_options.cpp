#include "settings/eml_options.h"

#include <cstdint>
#include <cstdio>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "discovery/path_lists.h"
#include "platform/platform.h"
#include "run/help_screen.h"
#include "run/run_state.h"
#include "run/terminate.h"
#include "runlog/run_log.h"
#include "settings/dated_names.h"
#include "settings/ini_settings.h"
#include "settings/long_options.h"
#include "settings/run_settings.h"
#include "settings/setting_messages.h"

namespace {

// The comment buffer holds 128 characters with its terminator.
constexpr std::size_t k_comment_limit = 127;
// Read-only, hidden, archive and encrypted: what an attribute reset clears.
constexpr uint32_t k_attribute_reset = 0x4023;

// Where the reader stands: the option word, the letter in it, and the first word
// that no option has consumed yet.
struct option_cursor {
  const std::vector<std::string>* args = nullptr;
  std::size_t word = 0;
  std::size_t letter = 0;
  std::size_t next = 0;
  bool plus = false;
  bool word_done = false;  // an attached value or a list finished the word
};

enum class value_form { attached, next_word, missing };

std::string_view current_word(const option_cursor& c) { return (*c.args)[c.word]; }

bool more_words(const option_cursor& c) { return c.next < c.args->size(); }

std::string_view next_word(const option_cursor& c) { return (*c.args)[c.next]; }

bool begins_with(std::string_view word, char c) { return !word.empty() && word[0] == c; }

// On POSIX every absolute path begins with '/', so only Windows reads it as an option.
bool begins_option_word(std::string_view word) {
  return begins_with(word, '-') || begins_with(word, '+') ||
         (k_slash_starts_option && begins_with(word, '/'));
}

// The -p list ends only at '-' or '+': a '/' word there is a path even on Windows.
bool ends_path_list(std::string_view word) {
  return begins_with(word, '-') || begins_with(word, '+');
}

bool ends_type_list(std::string_view word) { return begins_option_word(word); }

// Bytes of the UTF-8 character at the start of `text`; a stray byte counts as one.
std::size_t character_length(std::string_view text) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  std::size_t n = lead < 0x80         ? 1
                  : (lead >> 5) == 6  ? 2
                  : (lead >> 4) == 14 ? 3
                  : (lead >> 3) == 30 ? 4
                                      : 1;
  if (n > text.size()) return 1;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

// Code of the character at the start of `text`, `length` bytes long.
int character_code(std::string_view text, std::size_t length) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  if (length == 1) return lead;
  int code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return code;
}

std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += character_length(text.substr(i))) ++count;
  return count;
}

// The first `limit` characters of `text`, never cutting a character in two.
std::string_view first_characters(std::string_view text, std::size_t limit) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size() && n < limit; ++n) i += character_length(text.substr(i));
  return text.substr(0, i);
}

int saturated_int(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

[[noreturn]] void refuse_with_help() {
  show_help();
  terminate_run(k_exit_illegal_option);
}

[[noreturn]] void refuse_illegal_letter(std::string_view rest) {
  say_setting("\nIllegal option ");
  say_setting(rest);
  say_setting("\n");
  show_setting_messages();
  pause_seconds(2);
  terminate_run(k_exit_illegal_option);
}

[[noreturn]] void refuse_extra_word(std::string_view word) {
  say_setting("\nThere appears to be an extra or eroneous item \"");
  say_setting(word);
  say_setting("\"\n");
  say_setting("at the end of the command line\n");
  say_setting("Please check your syntax, and correct to problem.\n");
  terminate_run(k_exit_illegal_option);
}

// The value of the current letter: the rest of its word, or else the whole next
// word. -w and -d skip a leading '=' of an attached value.
value_form take_value(option_cursor& c, std::string& value, bool skip_equals = false) {
  std::string_view rest = current_word(c).substr(c.letter + 1);
  if (!rest.empty()) {
    c.word_done = true;
    if (skip_equals && rest[0] == '=') rest.remove_prefix(1);
    value.assign(rest);
    return value_form::attached;
  }
  if (!more_words(c)) return value_form::missing;
  value.assign(next_word(c));
  ++c.next;
  return value_form::next_word;
}

// Missing, or taken from a next word that is an option itself.
bool unusable_value(value_form form, const std::string& value) {
  return form == value_form::missing || (form == value_form::next_word && begins_with(value, '-'));
}

std::string take_required_value(option_cursor& c, bool skip_equals = false) {
  std::string value;
  if (unusable_value(take_value(c, value, skip_equals), value))
    terminate_run(k_exit_illegal_option);
  return value;
}

void close_run_log() {
  if (!g_acct_file) return;
  std::fclose(g_acct_file);
  g_acct_file = nullptr;
}

// -1 name: the new log opens at the end of the command line; an open one is told why
// it ends here.
void name_run_log(option_cursor& c) {
  std::string value;
  if (unusable_value(take_value(c, value), value)) refuse_with_help();
  g_settings->accounting = 1;
  g_acct_name = full_name(value);
  if (g_acct_file) {
    std::fputs("This file closed.\n", g_acct_file);
    std::fprintf(g_acct_file, "Accounting file overridden by option -1 file pointing to %s\n",
                 g_acct_name.c_str());
    close_run_log();
  }
}

void drop_run_log(option_cursor&) {
  g_settings->accounting = 0;
  close_run_log();
}

void show_help_letter(option_cursor&) { refuse_with_help(); }

void show_notice_letter(option_cursor&) {
  g_settings->notice_shown = 1;
  show_code_notice();
}

void set_comment_letter(option_cursor& c) {
  std::string value;
  if (unusable_value(take_value(c, value), value)) refuse_with_help();
  g_settings->comment = 1;
  int width = saturated_int(static_cast<int64_t>(count_characters(value)));
  std::size_t separator = value.find('=');
  if (separator == std::string::npos) separator = value.find(':');
  std::string_view text = value;
  if (ascii_istarts_with(value, "COMPUTERNAME") && value.size() >= 13) {
    std::size_t number_at = separator == std::string::npos ? 12 : separator + 1;
    width = leading_int(text.substr(number_at));
    text = text.substr(0, 12);
  } else if (separator != std::string::npos && separator + 1 < value.size()) {
    int after = leading_int(text.substr(separator + 1));
    if (after > width) width = after;
    text = text.substr(0, separator);
  }
  store_comment_text(text);
  g_comment_width = width;
}

void set_greater_size(option_cursor& c) {
  std::string value = take_required_value(c);
  g_settings->size_greater = 1;
  g_greater_than_size = leading_number(value);
}

void set_less_size(option_cursor& c) {
  std::string value = take_required_value(c);
  g_settings->size_less = 1;
  g_less_than_size = leading_number(value);
}

void set_path_only(option_cursor&) {
  g_settings->name_only = 1;
  g_settings->path_only = !g_settings->path_only;
}

void clear_path_only(option_cursor&) { g_settings->path_only = 0; }

void name_output_file(option_cursor& c) {
  std::string value = take_required_value(c);
  g_settings->output_mode = 1;
  g_output_name = full_name(value);
  if (has_dated_mask(g_output_name)) expand_dated_name(g_output_name);
}

void name_appended_output_file(option_cursor& c) {
  g_settings->append_output = 1;
  name_output_file(c);
}

void drop_output_file(option_cursor&) {
  g_settings->append_output = 0;
  g_settings->output_mode = 0;
}

void toggle_pause(option_cursor&) { g_settings->pause = !g_settings->pause; }

void set_reset(option_cursor&) { g_settings->reset = 1; }

void apply_time_character(int code) {
  g_settings->time_type = code;
  if (code == '3') {
    g_settings->all_times = 1;
  } else if (code == '0') {
    g_settings->all_times = 0;
    g_settings->zulu = 0;
    g_settings->military = 0;
  } else if (code == 'W' || code == 'C' || code == 'A') {
    g_settings->time_type = ascii_lower(static_cast<char>(code));
    g_settings->time_letter_given = 1;
  }
}

// The value of t is one character: in the same word the letters after it are read
// as options again; from the next word the rest of that word is ignored.
void set_time_letter(option_cursor& c) {
  g_settings->military = 1;
  g_settings->time_type = 'w';
  std::string_view rest = current_word(c).substr(c.letter + 1);
  int code = 0;
  if (!rest.empty()) {
    std::size_t length = character_length(rest);
    code = character_code(rest, length);
    c.letter += length;
  } else if (more_words(c) && !next_word(c).empty()) {
    std::string_view word = next_word(c);
    code = character_code(word, character_length(word));
    ++c.next;
  } else {
    terminate_run(k_exit_illegal_option);
  }
  apply_time_character(code);
}

void set_reverse_time_letter(option_cursor& c) {
  g_settings->reverse = 1;
  set_time_letter(c);
}

void clear_time_letter(option_cursor&) {
  g_settings->military = 0;
  g_settings->time_type = 'w';
}

void set_width_letter(option_cursor& c) {
  g_settings->width_letters += 1;
  g_settings->variable_width = 0;
  std::string value;
  if (take_value(c, value, true) == value_form::missing) terminate_run(k_exit_illegal_option);
  g_settings->width = leading_int(value);
}

void set_wide_width_letter(option_cursor& c) {
  g_settings->width_letters += 1;
  set_width_letter(c);
}

void count_width_letter(option_cursor&) {
  g_settings->width_letters += 1;
  g_settings->variable_width = 0;
}

void set_zulu(option_cursor&) { g_settings->zulu = 1; }

void set_append(option_cursor&) { g_settings->append_output = 1; }

void clear_append(option_cursor&) { g_settings->append_output = 0; }

void set_crc(option_cursor&) {
  g_settings->crc = 1;
  g_settings->sha1 = 0;
  g_settings->hash = 0;
}

// A one-character value is the delimiter itself; anything longer is its code, so
// "-d 9" is the digit and "-d 09" the tab.
void set_delimiter_letter(option_cursor& c) {
  std::string value = take_required_value(c, true);
  g_settings->delimiter_set = 1;
  int code = single_character_code(value);
  int64_t number = code >= 0 ? code : leading_number(value);
  g_delimiter = static_cast<char>(static_cast<unsigned char>(number & 0xFF));
  if (g_delimiter == ',') g_settings->quote_fields = 1;
}

void read_type_list(option_cursor& c) {
  while (more_words(c) && !ends_type_list(next_word(c))) {
    std::string_view type = next_word(c);
    if (type.find('\\') != std::string_view::npos) {
      std::fputs("Can't have a \\ in the file type option\n", stderr);
      terminate_run(k_exit_illegal_option);
    }
    add_filetype(type);
    ++c.next;
  }
}

void read_path_list(option_cursor& c) {
  while (more_words(c) && !ends_path_list(next_word(c))) {
    add_path(next_word(c));
    ++c.next;
  }
}

void set_older_letter(option_cursor& c) {
  std::string value;
  if (take_value(c, value) == value_form::missing) refuse_with_help();
  apply_age_value(value, true);
}

void set_newer_letter(option_cursor& c) {
  std::string value;
  if (take_value(c, value) == value_form::missing) refuse_with_help();
  apply_age_value(value, false);
}

void toggle_military(option_cursor&) { g_settings->military = !g_settings->military; }

void set_military(option_cursor&) { g_settings->military = 1; }

void toggle_name_only(option_cursor&) { g_settings->name_only = !g_settings->name_only; }

void clear_name_only(option_cursor&) { g_settings->name_only = 0; }

struct attribute_letter {
  char letter;
  uint32_t bit;
};

constexpr attribute_letter k_attribute_letters[] = {
    {'A', k_attr_archive},  {'E', k_attr_encrypted}, {'H', k_attr_hidden},
    {'R', k_attr_readonly}, {'S', k_attr_system},
};

void apply_attribute_letter(char letter, bool clearing) {
  char upper = ascii_upper(letter);
  if (upper == '0' || upper == 'N') {
    if (!clearing) g_attributes_to_set = 0;
    g_attributes_to_clear = k_attribute_reset;
    return;
  }
  for (const attribute_letter& entry : k_attribute_letters) {
    if (entry.letter != upper) continue;
    (clearing ? g_attributes_to_clear : g_attributes_to_set) |= entry.bit;
  }
}

// Without a following '-' or '+' the letters after q are options again (-qr).
void set_attribute_letters(option_cursor& c) {
  g_settings->change_attributes = 1;
  std::string_view rest = current_word(c).substr(c.letter + 1);
  if (rest.empty() || (rest[0] != '-' && rest[0] != '+')) return;
  bool clearing = rest[0] == '-';
  for (char letter : rest.substr(1)) apply_attribute_letter(letter, clearing);
  c.word_done = true;
}

void toggle_recurse(option_cursor&) { g_settings->recurse = !g_settings->recurse; }

void set_recurse(option_cursor&) { g_settings->recurse = 1; }

// -x replaces whatever the INI file or --EXC= put into the exclude list.
void read_exclude_list(option_cursor& c) {
  g_settings->exclude = 1;
  g_excludes.clear();
  g_exclude_count = 0;
  if (!more_words(c) || begins_with(next_word(c), '-')) refuse_with_help();
  std::size_t taken = 0;
  while (more_words(c) && !ends_type_list(next_word(c))) {
    add_exclude(next_word(c));
    ++taken;
    ++c.next;
  }
  if (taken > k_exclude_limit) refuse_too_many_excludes();
}

void read_long_option(option_cursor& c) {
  std::string_view text = current_word(c).substr(c.letter + 1);
  c.word_done = true;
  if (parse_long_option(text) == 0) return;
  say_setting("\nIllegal option: ");
  say_setting(text);
  terminate_run(k_exit_illegal_option);
}

using letter_action = void (*)(option_cursor&);

struct letter_rule {
  char letter;
  letter_action action;
  letter_action plus_action;  // what a '+' word does instead
};

constexpr letter_rule k_letter_rules[] = {
    {'-', read_long_option, read_long_option},
    {'1', name_run_log, drop_run_log},
    {'?', show_help_letter, show_help_letter},
    {'@', show_notice_letter, show_notice_letter},
    {'C', set_comment_letter, set_comment_letter},
    {'G', set_greater_size, set_greater_size},
    {'L', set_less_size, set_less_size},
    {'N', set_path_only, clear_path_only},
    {'O', name_appended_output_file, drop_output_file},
    {'P', toggle_pause, toggle_pause},
    {'R', set_reset, set_reset},
    {'T', set_reverse_time_letter, clear_time_letter},
    {'t', set_time_letter, clear_time_letter},
    {'W', set_wide_width_letter, count_width_letter},
    {'w', set_width_letter, count_width_letter},
    {'Z', set_zulu, set_zulu},
    {'z', set_zulu, set_zulu},
    {'a', set_append, clear_append},
    {'c', set_crc, set_crc},
    {'d', set_delimiter_letter, set_delimiter_letter},
    {'f', read_type_list, read_type_list},
    {'g', set_older_letter, set_older_letter},
    {'l', set_newer_letter, set_newer_letter},
    {'m', toggle_military, set_military},
    {'n', toggle_name_only, clear_name_only},
    {'o', name_output_file, drop_output_file},
    {'p', read_path_list, read_path_list},
    {'q', set_attribute_letters, set_attribute_letters},
    {'r', toggle_recurse, set_recurse},
    {'x', read_exclude_list, read_exclude_list},
};

const letter_rule* find_letter_rule(char letter) {
  for (const letter_rule& rule : k_letter_rules) {
    if (rule.letter == letter) return &rule;
  }
  return nullptr;
}

void read_option_letters(option_cursor& c) {
  std::string_view word = current_word(c);
  c.plus = word[0] == '+';
  c.word_done = false;
  for (c.letter = 1; c.letter < word.size() && !c.word_done; ++c.letter) {
    const letter_rule* rule = find_letter_rule(word[c.letter]);
    if (!rule) refuse_illegal_letter(word.substr(c.letter));
    (c.plus ? rule->plus_action : rule->action)(c);
  }
}

// Reads option words from `first` on; returns the first word that is not one.
std::size_t read_option_words(const std::vector<std::string>& args, std::size_t first) {
  option_cursor c;
  c.args = &args;
  c.next = first;
  while (more_words(c) && begins_option_word(next_word(c))) {
    c.word = c.next++;
    // Only tells the INI reader to stay away; it has done its work already.
    if (args[c.word] == "-.ini") continue;
    read_option_letters(c);
  }
  return c.next;
}

// The lower bound is midnight of 01-01-1980, the upper the last second of today.
void set_date_defaults() {
  int year = 0;
  int month = 0;
  int day = 0;
  split_date_text("01-01-1980", year, month, day);
  g_newer_than_time = to_file_time(make_local_time(year, month, day, 0, 0, 0));
  calendar_time today;
  if (local_parts(current_time(), today)) {
    g_older_than_time =
        to_file_time(make_local_time(today.year, today.month, today.day, 24, 60, 60));
  }
}

void open_requested_run_log() {
  if (g_settings->accounting) {
    g_acct_file = open_run_log(g_acct_name);
    if (!g_acct_file) say_setting("\nAccounting file not opened\n");
  }
  if (!g_acct_file && g_settings->split) {
    g_settings->accounting = 1;
    g_split_log_name = g_output_name + ".log";
    g_acct_file = open_run_log(g_split_log_name);
  }
}

// A date bound that does not exist would silently select the wrong files.
void refuse_impossible_date(int year, int month, int day) {
  int total = 0;
  bool exists = month <= 12 && day <= 31 &&
                day_of_year(year, day, month, total) != day_of_year_result::invalid_date;
  if (exists) return;
  say_setting_formatted("%d/%d/%d is not a valid date\n", month, day, year);
  terminate_run(k_exit_illegal_option);
}

}  // namespace

std::string option_letters() {
  std::string out;
  for (const letter_rule& rule : k_letter_rules) out += rule.letter;
  return out;
}

std::string full_name(std::string_view name) {
  std::string full;
  if (g_platform.full_path(std::string(name), full)) return full;
  return std::string(name);
}

int single_character_code(std::string_view value) {
  if (value.empty()) return -1;
  std::size_t length = character_length(value);
  if (length != value.size()) return -1;
  return character_code(value, length);
}

int first_character_code(std::string_view text) {
  return character_code(text, character_length(text));
}

void store_comment_text(std::string_view text) {
  g_comment_text.assign(first_characters(text, k_comment_limit));
}

void refuse_too_many_excludes() {
  say_setting("\nYou have too many -eXclude file types.\n");
  say_setting_formatted("Max exclude types is %d\n", static_cast<int>(k_exclude_limit));
  terminate_run(k_exit_illegal_option);
}

void take_time_letters(std::string& value) {
  std::size_t end = std::string::npos;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char letter = ascii_lower(value[i]);
    if (letter != 'a' && letter != 'c' && letter != 'w') continue;
    if (letter == 'a') g_age_times.access = true;
    if (letter == 'c') g_age_times.creation = true;
    if (letter == 'w') g_age_times.written = true;
    if (end == std::string::npos) end = i;
  }
  if (end != std::string::npos) value.resize(end);
}

void apply_age_value(std::string value, bool older) {
  g_settings->age_filter = 1;
  (older ? g_settings->older_than_set : g_settings->newer_than_set) = 1;
  int& days = older ? g_older_than_days : g_newer_than_days;
  if (value.find_first_of("-/\\") == std::string::npos) {
    days = leading_int(value);
    return;
  }
  take_time_letters(value);
  std::string narrow = narrow_text(value);
  int year = 0;
  int month = 0;
  int day = 0;
  split_bound_date(narrow, year, month, day);
  refuse_impossible_date(year, month, day);
  days = saturated_int(days_since_date(narrow));
  file_ticks bound = to_file_time(make_local_time(year, month, day, 0, 0, 0));
  (older ? g_older_than_time : g_newer_than_time) = bound;
}

void parse_command_line(std::vector<std::string>& args) {
  set_date_defaults();
  g_settings->quote_fields = 0;
  read_environment();
  read_ini_settings(args);
  std::size_t i = 1;
  for (; i < args.size() && !begins_option_word(args[i]); ++i) add_path_argument(args[i]);
  i = read_option_words(args, i);
  if (i < args.size()) refuse_extra_word(args[i]);
  if (g_filetypes.empty()) add_filetype("*.*");
  open_requested_run_log();
}
