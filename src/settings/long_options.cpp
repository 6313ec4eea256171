#include "settings/long_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/help_screen.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "settings/setters.h"
#include "settings/setting_messages.h"

namespace {

enum class match_kind { prefix, whole_text };
// none: any value is ignored; required: rejected without one; on_off: ON, OFF or
// nothing; own: the action reads the option text itself.
enum class value_kind { none, required, on_off, own };

struct long_value {
  std::string_view option;         // the whole text after "--"
  std::string_view after_keyword;  // the text after the matched keyword
  std::string_view value;          // the text after the first '=', empty without one
  bool has_equals = false;
  int on = 1;  // the ON/OFF value
};

void set_access(const long_value&) { g_settings->access = 1; }

// The code of the character after '=' or, without '=', after ':'.
void set_ads(const long_value& v) {
  g_settings->ads = 1;
  g_settings->reset = 1;
  std::size_t separator = v.option.find('=');
  if (separator == std::string_view::npos) separator = v.option.find(':');
  if (separator == std::string_view::npos || separator + 1 >= v.option.size()) return;
  g_settings->ads = first_character_code(v.option.substr(separator + 1));
}

// The new log opens at the end of the command line.
void name_run_log(const long_value& v) { override_run_log(v.value, run_log_source::long_option); }

void set_append(const long_value&) { g_settings->append_output = 1; }

void set_begin_offset(const long_value& v) { g_begin_offset = leading_number(v.value); }

void set_end_offset(const long_value& v) { g_end_offset = leading_number(v.value); }

void set_comment(const long_value& v) {
  g_settings->comment = 1;
  std::string_view text = v.value;
  g_comment_width = leading_int(text);
  std::size_t separator = text.find('=');
  if (separator != std::string_view::npos) {
    int after = leading_int(text.substr(separator + 1));
    if (after > g_comment_width) g_comment_width = after;
    text = text.substr(0, separator);
  }
  store_comment_text(text);
}

void set_crc(const long_value&) {
  g_settings->crc = 1;
  g_settings->sha1 = 0;
  g_settings->hash = 0;
}

void set_create(const long_value&) { g_settings->create = 1; }

// Unlike -d this leaves delimiter_set alone; a comma still quotes the fields
// (parse_command_line decides that once every source was read).
void set_delimiter(const long_value& v) {
  int code = single_character_code(v.value);
  int64_t number = code >= 0 ? code : v.value == "pipe" ? '|' : leading_number(v.value);
  g_delimiter = static_cast<char>(static_cast<unsigned char>(number & 0xFF));
}

void set_dirsize(const long_value&) {
  g_settings->dirsize = 1;
  g_settings->directory_mode = 1;
}

void add_exclude_type(const long_value& v) {
  g_settings->exclude = 1;
  if (!add_exclude(v.value)) refuse_too_many_excludes();
}

void set_ext(const long_value&) {
  g_settings->ext = 1;
  g_name_width = 32;
  g_settings->ext_mode = 2;
}

void add_file_type(const long_value& v) { add_filetype(v.value); }

void set_hashset(const long_value& v) {
  g_settings->hashset = 1;
  g_hashset_name.assign(v.value);
}

void set_greater_size(const long_value& v) { set_size_bound(true, v.value); }

void set_hash(const long_value&) { g_settings->hash = 1; }

void set_no_count(const long_value&) { g_settings->no_count = 1; }

void set_less_size(const long_value& v) { set_size_bound(false, v.value); }

void set_levels(const long_value& v) {
  g_settings->levels = 1;
  if (g_settings->directory_mode <= INT32_MAX - 2) g_settings->directory_mode += 2;
  g_settings->change_attributes = 1;
  int depth = leading_int(v.value);
  g_settings->level_depth = depth < INT32_MAX ? depth + 1 : depth;
}

// The count may follow '=' or the keyword directly (--NAMEAFTER30); "=" alone
// leaves it as it was.
void set_nameafter(const long_value& v) {
  g_settings->nameafter = 1;
  std::string_view rest = v.after_keyword;
  if (!rest.empty() && rest[0] == '=') rest.remove_prefix(1);
  if (leading_number_length(rest) > 0) g_nameafter_count = leading_int(rest);
}

void set_newer(const long_value& v) { apply_age_value(std::string(v.value), false); }

void set_quote(const long_value&) { g_settings->quote_fields = 1; }

void set_older(const long_value& v) { apply_age_value(std::string(v.value), true); }

// Dated masks are rewritten only for -o and -O.
void name_output_file(const long_value& v) {
  g_settings->output_mode = 1;
  g_settings->append_output = 0;
  g_output_name = full_name(v.value);
}

void add_start_path(const long_value& v) { add_path(v.value); }

void set_pause(const long_value&) { g_settings->pause = 1; }

void set_recurse(const long_value& v) { g_settings->recurse = v.on; }

void set_reset(const long_value& v) { g_settings->reset = v.on; }

void set_reverse(const long_value&) { g_settings->reverse = 1; }

void set_sequence(const long_value& v) {
  g_settings->sequence = 1;
  g_sequence_start = v.has_equals ? leading_int(v.value) : 1;
}

void set_sha1(const long_value&) { g_settings->sha1 = 1; }
void set_sha2(const long_value&) { g_settings->sha2 = 1; }
void set_sha3(const long_value&) { g_settings->sha3 = 1; }
void set_sha5(const long_value&) { g_settings->sha5 = 1; }
void set_showat(const long_value&) { g_settings->showat = 1; }

void set_stream(const long_value& v) { g_settings->stream = v.on; }

void set_utf(const long_value&) { g_settings->utf = 1; }

void set_variable_width(const long_value&) { g_settings->variable_width = 1; }

void set_width(const long_value& v) { g_settings->width = leading_int(v.value); }

void set_silent(const long_value& v) { g_settings->silent = v.on; }

void set_scanners(const long_value& v) { set_scanner_count(v.value); }

void set_mbox(const long_value& v) { g_settings->mbox = v.on; }

void set_sent_after(const long_value& v) { set_sent_bound(v.value, true); }

void set_sent_before(const long_value& v) { set_sent_bound(v.value, false); }

void set_msgid(const long_value& v) { g_settings->msgid = v.on; }

void set_sent_utc(const long_value& v) { g_settings->sent_utc = v.on; }

void set_json(const long_value& v) { g_settings->json = v.on; }

void set_pst(const long_value& v) { g_settings->pst = v.on; }

void set_pst_recover(const long_value& v) { g_settings->pst_recover = v.on; }

// A list file that cannot be read ends the process before anything is listed.
void open_source_list(const long_value& v) {
  if (v.value.empty()) return;
  g_settings->source_list = 1;
  if (g_source_list_file) std::fclose(g_source_list_file);
  std::string name(v.value);
  // As bytes: a text-mode read on Windows would end the list at a Ctrl-Z byte; the
  // list reader takes CR LF and LF alike.
  g_source_list_file = g_platform.open_regular_stream(name, "rb");
  if (g_source_list_file) return;
  const char* reason = system_reason(errno);
  say_setting("\nCannot find/open ");
  say_setting(name);
  say_setting(": ");
  say_setting(reason);
  say_setting("\n");
  exit_directly(k_exit_input_file);
}

struct long_rule {
  const char* keyword;
  match_kind match;
  value_kind kind;
  void (*apply)(const long_value&);
};

// Tested in this order; the first match wins, so FILE takes --FILE_ID= and
// ACCESS comes before ACC.
constexpr long_rule k_long_rules[] = {
    {"ACCESS", match_kind::prefix, value_kind::none, set_access},
    {"ADS", match_kind::prefix, value_kind::own, set_ads},
    {"ACC", match_kind::prefix, value_kind::required, name_run_log},
    {"LOG", match_kind::prefix, value_kind::required, name_run_log},
    {"APP", match_kind::prefix, value_kind::none, set_append},
    {"BEG", match_kind::prefix, value_kind::required, set_begin_offset},
    {"END", match_kind::prefix, value_kind::required, set_end_offset},
    {"COM", match_kind::prefix, value_kind::required, set_comment},
    {"CRC", match_kind::prefix, value_kind::none, set_crc},
    {"CREATE", match_kind::prefix, value_kind::none, set_create},
    {"DEL", match_kind::prefix, value_kind::required, set_delimiter},
    {"DIRSIZE", match_kind::prefix, value_kind::none, set_dirsize},
    {"EXC", match_kind::prefix, value_kind::required, add_exclude_type},
    {"EXT", match_kind::prefix, value_kind::none, set_ext},
    {"FILE", match_kind::prefix, value_kind::required, add_file_type},
    {"HASHSET", match_kind::prefix, value_kind::required, set_hashset},
    {"GRE", match_kind::prefix, value_kind::required, set_greater_size},
    {"BIG", match_kind::prefix, value_kind::required, set_greater_size},
    {"HASH", match_kind::whole_text, value_kind::none, set_hash},
    {"MD5", match_kind::whole_text, value_kind::none, set_hash},
    {"IM", match_kind::prefix, value_kind::none, set_no_count},
    {"LES", match_kind::prefix, value_kind::required, set_less_size},
    {"SMA", match_kind::prefix, value_kind::required, set_less_size},
    {"LEV", match_kind::prefix, value_kind::required, set_levels},
    {"NAMEAFTER", match_kind::prefix, value_kind::own, set_nameafter},
    {"NEW", match_kind::prefix, value_kind::required, set_newer},
    {"YOU", match_kind::prefix, value_kind::required, set_newer},
    {"QUOTE", match_kind::prefix, value_kind::none, set_quote},
    {"OLD", match_kind::prefix, value_kind::required, set_older},
    {"BEF", match_kind::prefix, value_kind::required, set_older},
    {"OUT", match_kind::prefix, value_kind::required, name_output_file},
    {"PATH", match_kind::prefix, value_kind::required, add_start_path},
    {"PAU", match_kind::prefix, value_kind::none, set_pause},
    {"REC", match_kind::prefix, value_kind::on_off, set_recurse},
    {"RES", match_kind::prefix, value_kind::on_off, set_reset},
    {"REVERSE", match_kind::whole_text, value_kind::none, set_reverse},
    {"SEQ", match_kind::prefix, value_kind::own, set_sequence},
    {"SHA1", match_kind::whole_text, value_kind::none, set_sha1},
    {"SHA", match_kind::whole_text, value_kind::none, set_sha1},
    {"SHA2", match_kind::prefix, value_kind::none, set_sha2},
    {"SHA3", match_kind::prefix, value_kind::none, set_sha3},
    {"SHA5", match_kind::prefix, value_kind::none, set_sha5},
    {"SHOWAT", match_kind::prefix, value_kind::none, set_showat},
    {"STR", match_kind::prefix, value_kind::on_off, set_stream},
    {"UTF", match_kind::prefix, value_kind::none, set_utf},
    {"VAR", match_kind::prefix, value_kind::none, set_variable_width},
    {"WID", match_kind::prefix, value_kind::required, set_width},
    {"VER", match_kind::prefix, value_kind::on_off, set_silent},
    {"SOUR", match_kind::prefix, value_kind::own, open_source_list},
    // Of this tool alone; no keyword above starts it, so --SCANNERS=4 reaches it.
    {"SCANNERS", match_kind::prefix, value_kind::required, set_scanners},
    {"MBOX", match_kind::prefix, value_kind::on_off, set_mbox},
    {"SENT-AFTER", match_kind::prefix, value_kind::required, set_sent_after},
    {"SENT-BEFORE", match_kind::prefix, value_kind::required, set_sent_before},
    {"SENT-UTC", match_kind::prefix, value_kind::on_off, set_sent_utc},
    {"MSGID", match_kind::prefix, value_kind::on_off, set_msgid},
    {"JSON", match_kind::prefix, value_kind::on_off, set_json},
    // The longer keyword first: "PST" is a prefix of it.
    {"PST-RECOVER", match_kind::prefix, value_kind::on_off, set_pst_recover},
    {"PST", match_kind::prefix, value_kind::on_off, set_pst},
};

bool matches(const long_rule& rule, std::string_view option) {
  if (rule.match == match_kind::whole_text) return ascii_iequal(option, rule.keyword);
  return ascii_istarts_with(option, rule.keyword);
}

const long_rule* find_long_rule(std::string_view option) {
  for (const long_rule& rule : k_long_rules) {
    if (matches(rule, option)) return &rule;
  }
  return nullptr;
}

long_value split_long_value(std::string_view option, const long_rule& rule) {
  long_value v;
  v.option = option;
  v.after_keyword = option.substr(std::string_view(rule.keyword).size());
  std::size_t equals = option.find('=');
  if (equals != std::string_view::npos) {
    v.has_equals = true;
    v.value = option.substr(equals + 1);
  }
  return v;
}

// No '=' means ON; otherwise exactly ON or OFF in any case.
bool read_on_off(long_value& v) {
  if (!v.has_equals) return true;
  if (ascii_iequal(v.value, "ON")) {
    v.on = 1;
    return true;
  }
  if (ascii_iequal(v.value, "OFF")) {
    v.on = 0;
    return true;
  }
  return false;
}

// Options of the sibling tools that this one does not know must not stop a run.
void warn_ignored(std::string_view option) {
  say_setting("\nIllegal or incomplete minusminus option of \"--");
  say_setting(option);
  say_setting("\" IGNORED\n");
  say_setting("Please check the option compatability and rerun if necessary\n");
  show_setting_messages();
  pause_seconds(3);
}

}  // namespace

std::vector<std::string_view> long_option_keywords() {
  std::vector<std::string_view> out;
  for (const long_rule& rule : k_long_rules) out.push_back(rule.keyword);
  return out;
}

int parse_long_option(std::string_view option) {
  // The words every command-line user tries first; whole words only, and before the
  // keyword table, so that VER and its other prefixes keep their meaning.
  if (ascii_iequal(option, "HELP")) show_plain_help();
  if (ascii_iequal(option, "VERSION")) show_version();
  const long_rule* rule = find_long_rule(option);
  if (!rule) {
    warn_ignored(option);
    return 0;
  }
  long_value v = split_long_value(option, *rule);
  if (rule->kind == value_kind::required && v.value.empty()) return 1;
  if (rule->kind == value_kind::on_off && !read_on_off(v)) return 1;
  rule->apply(v);
  return 0;
}
