#include "settings/eml_options.h"

#include <cstdint>
#include <cstdio>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/dated_names.h"
#include "settings/help_screen.h"
#include "settings/ini_settings.h"
#include "settings/long_options.h"
#include "settings/path_lists.h"
#include "settings/run_log_request.h"
#include "settings/run_settings.h"
#include "settings/setters.h"
#include "settings/setting_messages.h"

namespace {

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

std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += utf8_sequence_length(text, i)) ++count;
  return count;
}

[[noreturn]] void refuse_with_help() {
  show_help();
  end_start_up(k_exit_illegal_option);
}

[[noreturn]] void refuse_illegal_letter(std::string_view rest) {
  say_setting("\nIllegal option ");
  say_setting(rest);
  say_setting("\n");
  show_setting_messages();
  pause_seconds(2);
  end_start_up(k_exit_illegal_option);
}

[[noreturn]] void refuse_extra_word(std::string_view word) {
  say_setting("\nThere appears to be an extra or eroneous item \"");
  say_setting(word);
  say_setting("\"\n");
  say_setting("at the end of the command line\n");
  say_setting("Please check your syntax, and correct to problem.\n");
  end_start_up(k_exit_illegal_option);
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
  if (unusable_value(take_value(c, value, skip_equals), value)) end_start_up(k_exit_illegal_option);
  return value;
}

// -1 name: the new log opens at the end of the command line.
void name_run_log(option_cursor& c) {
  std::string value;
  if (unusable_value(take_value(c, value), value)) refuse_with_help();
  override_run_log(value, run_log_source::option_letter);
}

void drop_run_log(option_cursor&) {
  g_settings->accounting = 0;
  request_run_log_close();
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

void set_greater_size(option_cursor& c) { set_size_bound(true, take_required_value(c)); }

void set_less_size(option_cursor& c) { set_size_bound(false, take_required_value(c)); }

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
    code = first_character_code(rest);
    c.letter += utf8_sequence_length(rest);
  } else if (more_words(c) && !next_word(c).empty()) {
    std::string_view word = next_word(c);
    code = first_character_code(word);
    ++c.next;
  } else {
    end_start_up(k_exit_illegal_option);
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
  if (take_value(c, value, true) == value_form::missing) end_start_up(k_exit_illegal_option);
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
      end_start_up(k_exit_illegal_option);
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
  end_start_up(k_exit_illegal_option);
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
  if (g_settings->accounting && !request_run_log_open(g_acct_name)) {
    say_setting("\nAccounting file not opened\n");
  }
  if (!run_log_is_open() && g_settings->split) {
    g_settings->accounting = 1;
    g_split_log_name = g_output_name + ".log";
    request_run_log_open(g_split_log_name);
  }
}

}  // namespace

std::string option_letters() {
  std::string out;
  for (const letter_rule& rule : k_letter_rules) out += rule.letter;
  return out;
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
  refuse_crossed_sent_bounds();
  if (g_filetypes.empty()) add_filetype("*.*");
  // Whichever source made the comma the delimiter, bare fields would split at
  // every comma of an address list: a comma always gives the quoted form.
  if (g_delimiter == ',') g_settings->quote_fields = 1;
  open_requested_run_log();
}
