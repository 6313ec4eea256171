#include "settings/ini_keys.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "settings/setters.h"
#include "settings/setting_messages.h"

namespace {

// One setting line, upper-cased as a whole so that keys and values ignore case.
struct ini_line {
  std::string text;
  // An '=' with something after it; "KEY=" alone counts as the bare key, so that no
  // setting takes an empty name, a NUL delimiter or a zero number by accident.
  bool has_value = false;
  std::string value;
  // The value as written: file names keep their case where the file system minds it.
  std::string name;
};

using field_ptr = int32_t run_settings::*;
using key_action = void (*)(const ini_line& line, field_ptr field);

struct ini_key {
  const char* key;
  bool anywhere;  // found anywhere in the line, else only at its start
  key_action action;
  field_ptr field;  // the field of the plain switches; null for the others
};

bool contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

// Messages of the reader stay readable for a moment.
void say(const char* format, const ini_line& line) {
  say_setting_formatted(format, line.text.c_str());
}

void wait_seconds(int seconds) {
  show_setting_messages();
  pause_seconds(seconds);
}

// A key without a value is named, with what it turns off (`follow_up`), and the
// reader pauses; true then, and the caller leaves or turns off its setting.
bool value_missing(const ini_line& line, const char* follow_up = nullptr, int seconds = 2,
                   const char* format = "\nMissing ini file modifier at: %s") {
  if (line.has_value) return false;
  say(format, line);
  if (follow_up) say_setting(follow_up);
  wait_seconds(seconds);
  return true;
}

// ON or YES anywhere sets 1 (so NONE counts as ON); OFF is tested second and wins.
void apply_switch(int32_t& field, const std::string& value) {
  if (contains(value, "ON") || contains(value, "YES")) field = 1;
  if (contains(value, "OFF")) field = 0;
}

void first_one_switch(const ini_line& line, field_ptr field) {
  g_settings->*field = 1;
  if (line.has_value) apply_switch(g_settings->*field, line.value);
}

void first_zero_switch(const ini_line& line, field_ptr field) {
  g_settings->*field = 0;
  if (line.has_value) apply_switch(g_settings->*field, line.value);
}

void plain_switch(const ini_line& line, field_ptr field) {
  if (line.has_value) apply_switch(g_settings->*field, line.value);
}

void set_accounting(const ini_line& line, field_ptr) {
  if (value_missing(line, nullptr, 2, "\nMissing ini file modifier at: %s=")) {
    g_settings->accounting = 0;
    return;
  }
  if (contains(line.value, "OFF")) {
    g_settings->accounting = 0;
    return;
  }
  // The log opened from the environment gives way; the new one opens at the end of
  // the command line.
  override_run_log(line.name, run_log_source::ini_file);
}

void set_all_ht(const ini_line& line, field_ptr) {
  if (value_missing(line)) return;
  if (contains(line.value, "ON") || contains(line.value, "YES")) {
    g_settings->military = 1;
    g_settings->all_times = 1;
    g_settings->time_type = '3';
    g_settings->all_hash = 1;
    g_settings->hash = 1;
  }
  if (contains(line.value, "OFF")) {
    g_settings->all_times = 0;
    g_settings->all_hash = 0;
  }
}

void set_all_times(const ini_line& line, field_ptr) {
  if (!line.has_value || contains(line.value, "ON") || contains(line.value, "YES")) {
    g_settings->military = 1;
    g_settings->all_times = 1;
    g_settings->time_type = '3';
  }
  if (line.has_value && contains(line.value, "OFF")) g_settings->all_times = 0;
}

void set_comment(const ini_line& line, field_ptr) {
  g_settings->comment = 1;
  if (line.has_value) g_comment_text = line.value;
}

void set_delimiter(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing ini file directive %s", line);
    wait_seconds(2);
    g_settings->delimiter_set = 0;
    return;
  }
  if (contains(line.value, "OFF")) {
    g_settings->delimiter_set = 0;
    return;
  }
  g_settings->delimiter_set = 1;
  g_delimiter = line.value[0];
}

void set_displace(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing ini file directive: %s", line);
    g_begin_offset = 0;
    return;
  }
  g_begin_offset = contains(line.value, "OFF") ? 0 : leading_number(line.value);
}

void add_ini_exclude(const ini_line& line, field_ptr) {
  g_settings->exclude = 1;
  if (!line.has_value) {
    say("\nMissing/illegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  add_exclude(line.value);
}

void set_ext(const ini_line&, field_ptr) {
  g_settings->ext_mode = 2;
  g_settings->ext = 1;
}

// Settings never end the run: entries beyond the list's room are dropped.
void add_ini_filetype(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing/Illegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  if (g_filetypes.size() < k_list_limit) add_filetype(line.value);
}

void set_fdi(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing/Illegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  if (contains(line.value, "ON") || contains(line.value, "YES")) {
    g_begin_offset = 512;
    g_settings->fdi = 1;
  }
  if (contains(line.value, "OFF")) {
    g_begin_offset = 0;
    g_settings->fdi = 0;
  }
}

void set_greater(const ini_line& line, field_ptr) {
  if (value_missing(line, "\nGREATER size option turned OFF", 3)) {
    g_settings->size_greater = 0;
    return;
  }
  set_size_bound(true, line.value);
}

void set_less(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nIllegal ini file directive %s", line);
    say_setting("\nLESSTHAN size option turned OFF");
    wait_seconds(3);
    g_settings->size_less = 0;
    return;
  }
  set_size_bound(false, line.value);
}

void set_newer(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing ini modifier at: %s", line);
    say_setting("\nAging modifier turned off");
    wait_seconds(2);
    g_settings->age_filter = 0;
    return;
  }
  set_age_bound(line.value, false);
}

void set_older(const ini_line& line, field_ptr) {
  if (value_missing(line, "\nAging modifier turned off")) {
    g_settings->age_filter = 0;
    return;
  }
  set_age_bound(line.value, true);
}

void set_output(const ini_line& line, field_ptr) {
  if (value_missing(line, "Output set to NOne\n", 3)) {
    g_settings->output_mode = 0;
    return;
  }
  g_settings->output_mode = 1;
  g_output_name = full_name(line.name);
}

void add_ini_path(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing/Illegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  if (g_paths.size() < k_list_limit) add_path(line.name);
}

void set_recurse(const ini_line& line, field_ptr) {
  if (!line.has_value) {
    say("\nMissing ini file directive at: %s", line);
    wait_seconds(2);
    return;
  }
  apply_switch(g_settings->recurse, line.value);
}

// REVERSE also takes NO for off; like OFF it is tested after ON and wins.
void set_reverse(const ini_line& line, field_ptr) {
  g_settings->reverse = 1;
  if (!line.has_value) return;
  apply_switch(g_settings->reverse, line.value);
  if (contains(line.value, "NO")) g_settings->reverse = 0;
}

void set_split(const ini_line& line, field_ptr) {
  ++g_settings->silent;
  if (!line.has_value) {
    say("\nIllegal ini file directive %s", line);
    wait_seconds(2);
    g_settings->split = 0;
    return;
  }
  g_settings->split = 1;
  g_split_count = leading_int(line.value);
}

void set_stream(const ini_line& line, field_ptr) {
  g_settings->stream = 0;
  if (line.has_value) {
    apply_switch(g_settings->stream, line.value);
    return;
  }
  say("\nIllegal ini file directive %s", line);
  wait_seconds(2);
}

void set_sort(const ini_line& line, field_ptr) {
  g_settings->sort = 1;
  if (!line.has_value) return;
  g_sort_key = line.value[0];
  g_sort_descending = line.value.size() > 1 && line.value[1] == '-';
}

void set_time(const ini_line& line, field_ptr) {
  g_settings->time_letter_given = 1;
  if (!line.has_value) {
    g_settings->time_type = 'w';
    say("\nIllegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  g_settings->time_type = static_cast<unsigned char>(line.value[0]);
  g_settings->military = 1;
}

void set_variable_width(const ini_line&, field_ptr) { g_settings->variable_width = 1; }

void set_width(const ini_line& line, field_ptr) {
  if (value_missing(line)) return;
  g_settings->width = leading_int(line.value);
}

void set_zulu(const ini_line& line, field_ptr) {
  g_settings->military = 1;
  if (!line.has_value) {
    say("\nIllegal ini file directive %s", line);
    wait_seconds(2);
    return;
  }
  apply_switch(g_settings->zulu, line.value);
}

void set_long_names(const ini_line& line, field_ptr) {
  g_settings->name_form = 0;
  g_name_width = 32;
  if (!line.has_value) return;
  if (contains(line.value, "ON") || contains(line.value, "YES")) {
    g_settings->name_form = 2;
    g_name_width = 32;
  }
  if (contains(line.value, "OFF")) g_settings->name_form = 0;
  if (is_ascii_digit(line.value[0])) g_name_width = leading_int(line.value);
}

void set_short_names(const ini_line&, field_ptr) { g_settings->name_form = 1; }

void set_scanners(const ini_line& line, field_ptr) {
  if (value_missing(line)) return;
  set_scanner_count(line.value);
}

void set_sent_after(const ini_line& line, field_ptr) {
  if (value_missing(line)) return;
  set_sent_bound(line.value, true);
}

void set_sent_before(const ini_line& line, field_ptr) {
  if (value_missing(line)) return;
  set_sent_bound(line.value, false);
}

// Tested in this order; the first key that fits wins, so a key found anywhere can
// take a line meant for a later one (OUTPUT=C:\DELIMS.TXT is a DELIM line).
constexpr ini_key k_ini_keys[] = {
    {"ACCT", false, set_accounting, nullptr},
    {"ACCTING", false, set_accounting, nullptr},
    {"ACCOUNT", false, set_accounting, nullptr},
    {"LOG", false, set_accounting, nullptr},
    {"ALL_HT", false, set_all_ht, nullptr},
    {"ALL_TIMES", false, set_all_times, nullptr},
    {"ALLTIMES", false, set_all_times, nullptr},
    {"APPEND", false, first_one_switch, &run_settings::append_output},
    {"AUTO", false, first_one_switch, &run_settings::auto_width},
    {"COMMENT", false, set_comment, nullptr},
    {"CRC", false, first_one_switch, &run_settings::crc},
    {"DELIM", true, set_delimiter, nullptr},
    {"DISPLACE", true, set_displace, nullptr},
    {"EXC", false, add_ini_exclude, nullptr},
    {"X=", false, add_ini_exclude, nullptr},
    {"EXT", false, set_ext, nullptr},
    {"FILE", false, add_ini_filetype, nullptr},
    {"FDI", false, set_fdi, nullptr},
    {"GREATER", true, set_greater, nullptr},
    {"LARGER", true, set_greater, nullptr},
    {"BIGGER", true, set_greater, nullptr},
    {"HASH", false, first_one_switch, &run_settings::hash},
    {"IMMEDIATE", true, first_one_switch, &run_settings::no_count},
    {"NO_COUNT", true, first_one_switch, &run_settings::no_count},
    {"LESSTHAN", true, set_less, nullptr},
    {"SMALLER", true, set_less, nullptr},
    {"MILITARY", true, plain_switch, &run_settings::military},
    {"NAMEONLY", false, first_one_switch, &run_settings::name_only},
    {"NEWER", true, set_newer, nullptr},
    {"YOUNGER", true, set_newer, nullptr},
    {"OLDER", true, set_older, nullptr},
    {"OUTPUT", false, set_output, nullptr},
    {"PATH", false, add_ini_path, nullptr},
    {"PPATHONLY", false, first_one_switch, &run_settings::path_only},
    {"PAUSE", true, first_one_switch, &run_settings::pause},
    {"RECURSE", true, set_recurse, nullptr},
    {"RESET", true, first_one_switch, &run_settings::reset},
    {"REVERSE", false, set_reverse, nullptr},
    {"SHA", false, first_one_switch, &run_settings::sha1},
    {"SILENT", true, first_zero_switch, &run_settings::silent},
    {"VERBOSE", true, first_zero_switch, &run_settings::silent},
    {"SPLIT", false, set_split, nullptr},
    {"STREAM", false, set_stream, nullptr},
    {"SORT", false, set_sort, nullptr},
    {"TIME", true, set_time, nullptr},
    {"VAR", false, set_variable_width, nullptr},
    {"WIDTH", false, set_width, nullptr},
    {"ZULU", true, set_zulu, nullptr},
    {"LFN", true, set_long_names, nullptr},
    {"8.3", true, set_short_names, nullptr},
    // Of this tool alone: no key above fits SCANNERS=N, at the start or anywhere.
    {"SCANNERS", false, set_scanners, nullptr},
    {"MBOX", false, plain_switch, &run_settings::mbox},
    {"SENT_AFTER", false, set_sent_after, nullptr},
    {"SENT_BEFORE", false, set_sent_before, nullptr},
    {"UTF", false, plain_switch, &run_settings::utf},
    {"MSGID", false, plain_switch, &run_settings::msgid},
    {"SENT_UTC", false, plain_switch, &run_settings::sent_utc},
    {"JSON", false, plain_switch, &run_settings::json},
    // The longer key first: "PST" starts it.
    {"PST_RECOVER", false, plain_switch, &run_settings::pst_recover},
    {"PST", false, plain_switch, &run_settings::pst},
};

bool key_fits(const ini_key& key, const std::string& text) {
  return key.anywhere ? contains(text, key.key) : text.rfind(key.key, 0) == 0;
}

ini_line split_line(std::string_view written) {
  ini_line line;
  line.text = ascii_upper_copy(written);
  std::size_t equals = line.text.find('=');
  if (equals != std::string::npos && equals + 1 < line.text.size()) {
    line.has_value = true;
    line.value = line.text.substr(equals + 1);
    line.name = k_windows ? line.value : std::string(written.substr(equals + 1));
  }
  return line;
}

}  // namespace

std::vector<std::string_view> ini_key_names() {
  std::vector<std::string_view> out;
  for (const ini_key& key : k_ini_keys) out.push_back(key.key);
  return out;
}

void apply_ini_line(std::string_view written) {
  if (written.empty() || written[0] == ';' || written[0] == '#') return;
  ini_line line = split_line(written);
  for (const ini_key& key : k_ini_keys) {
    if (key_fits(key, line.text)) {
      key.action(line, key.field);
      return;
    }
  }
}
