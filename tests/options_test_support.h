// Shared by the option tests: read settings fields by name and run tables of
// command lines through the parser in-process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "INCLUDE_U/dates.h"
#include "platform/platform.h"
#include "runlog/run_log.h"
#include "settings/eml_options.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace options_test {

struct record_field {
  const char* name;
  int32_t run_settings::*member;
};

inline constexpr record_field k_record_fields[] = {
    {"access", &run_settings::access},
    {"ads", &run_settings::ads},
    {"all_times", &run_settings::all_times},
    {"append_output", &run_settings::append_output},
    {"change_attributes", &run_settings::change_attributes},
    {"accounting", &run_settings::accounting},
    {"comment", &run_settings::comment},
    {"crc", &run_settings::crc},
    {"delimiter_set", &run_settings::delimiter_set},
    {"levels", &run_settings::levels},
    {"directory_mode", &run_settings::directory_mode},
    {"dirsize", &run_settings::dirsize},
    {"width_letters", &run_settings::width_letters},
    {"ext", &run_settings::ext},
    {"hash", &run_settings::hash},
    {"size_greater", &run_settings::size_greater},
    {"hashset", &run_settings::hashset},
    {"size_less", &run_settings::size_less},
    {"level_depth", &run_settings::level_depth},
    {"width", &run_settings::width},
    {"military", &run_settings::military},
    {"name_only", &run_settings::name_only},
    {"path_only", &run_settings::path_only},
    {"nameafter", &run_settings::nameafter},
    {"output_mode", &run_settings::output_mode},
    {"pause", &run_settings::pause},
    {"quote_fields", &run_settings::quote_fields},
    {"recurse", &run_settings::recurse},
    {"reset", &run_settings::reset},
    {"time_letter_given", &run_settings::time_letter_given},
    {"sha1", &run_settings::sha1},
    {"sha2", &run_settings::sha2},
    {"sha3", &run_settings::sha3},
    {"sha5", &run_settings::sha5},
    {"ext_mode", &run_settings::ext_mode},
    {"showat", &run_settings::showat},
    {"stream", &run_settings::stream},
    {"reverse", &run_settings::reverse},
    {"time_type", &run_settings::time_type},
    {"utf", &run_settings::utf},
    {"variable_width", &run_settings::variable_width},
    {"silent", &run_settings::silent},
    {"zulu", &run_settings::zulu},
    {"no_count", &run_settings::no_count},
    {"exclude", &run_settings::exclude},
    {"source_list", &run_settings::source_list},
    {"create", &run_settings::create},
    {"age_filter", &run_settings::age_filter},
    {"older_than_set", &run_settings::older_than_set},
    {"newer_than_set", &run_settings::newer_than_set},
    {"notice_shown", &run_settings::notice_shown},
    {"sequence", &run_settings::sequence},
    {"scanners", &run_settings::scanners},
    {"mbox", &run_settings::mbox},
    {"sent_after_set", &run_settings::sent_after_set},
    {"sent_before_set", &run_settings::sent_before_set},
    {"utf", &run_settings::utf},
    {"msgid", &run_settings::msgid},
    {"sent_utc", &run_settings::sent_utc},
    {"json", &run_settings::json},
    {"pst", &run_settings::pst},
    {"pst_recover", &run_settings::pst_recover},
};

struct global_field {
  const char* name;
  int64_t (*read)();
};

inline const global_field k_global_fields[] = {
    {"delimiter", [] { return int64_t{static_cast<unsigned char>(g_delimiter)}; }},
    {"comment_width", [] { return int64_t{g_comment_width}; }},
    {"greater_size", [] { return g_greater_than_size; }},
    {"less_size", [] { return g_less_than_size; }},
    {"older_days", [] { return int64_t{g_older_than_days}; }},
    {"newer_days", [] { return int64_t{g_newer_than_days}; }},
    {"age_access", [] { return int64_t{g_age_times.access}; }},
    {"age_creation", [] { return int64_t{g_age_times.creation}; }},
    {"age_written", [] { return int64_t{g_age_times.written}; }},
    {"set_mask", [] { return int64_t{g_attributes_to_set}; }},
    {"clear_mask", [] { return int64_t{g_attributes_to_clear}; }},
    {"name_width", [] { return int64_t{g_name_width}; }},
    {"nameafter_count", [] { return int64_t{g_nameafter_count}; }},
    {"begin_offset", [] { return g_begin_offset; }},
    {"end_offset", [] { return g_end_offset; }},
    {"sequence_start", [] { return int64_t{g_sequence_start}; }},
    {"sent_after", [] { return g_sent_after; }},
    {"sent_before", [] { return g_sent_before; }},
};

inline std::string joined(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& entry : list) out += (out.empty() ? "" : ",") + entry;
  return out;
}

struct text_field {
  const char* name;
  std::string (*read)();
};

inline const text_field k_text_fields[] = {
    {"filetypes", [] { return joined(g_filetypes); }},
    {"excludes", [] { return joined(g_excludes); }},
    {"comment_text", [] { return g_comment_text; }},
    {"hashset_name", [] { return g_hashset_name; }},
};

inline int64_t settings_field(std::string_view name) {
  for (const record_field& f : k_record_fields) {
    if (name == f.name) return g_settings->*f.member;
  }
  for (const global_field& f : k_global_fields) {
    if (name == f.name) return f.read();
  }
  ADD_FAILURE() << "no field " << name;
  return 0;
}

inline std::string settings_text(std::string_view name) {
  for (const text_field& f : k_text_fields) {
    if (name == f.name) return f.read();
  }
  ADD_FAILURE() << "no text field " << name;
  return std::string();
}

// Milliseconds the code under test asked to wait; nothing really waits.
inline int g_slept_milliseconds = 0;

// A new record after the start-up defaults; waits only count. Use inside a
// scoped_platform.
inline void start_fresh_run() {
  create_run_settings();
  clear_path_lists();
  g_acct_file = nullptr;
  // The start-up defaults that precede the parser.
  g_settings->time_type = 'w';
  g_settings->military = 1;
  g_settings->width = 32;
  g_settings->stream = 1;
  g_settings->recurse = 1;
  g_slept_milliseconds = 0;
  // Warnings wait only for someone at a terminal.
  g_platform.is_terminal = [](std::FILE*) { return true; };
  g_platform.sleep_milliseconds = [](int ms) { g_slept_milliseconds += ms; };
}

inline void parse_words(const std::vector<std::string>& words) {
  std::vector<std::string> args{"mailsift"};
  args.insert(args.end(), words.begin(), words.end());
  // Keeps an INI file lying around the test's directory out of the settings.
  args.push_back("-.ini");
  parse_command_line(args);
}

// False while the calendar routines cannot read a plain date yet.
inline bool calendar_routines_ready() {
  int year = 0;
  int month = 0;
  int day = 0;
  split_date_text("12-05-2005", year, month, day);
  return year == 2005 && month == 12 && day == 5;
}

// A starting path as the path list stores it.
inline std::string stored_path(std::string_view name) {
  std::string full;
  EXPECT_TRUE(g_platform.full_path(std::string(name), full));
  return k_long_path_prefix + full;
}

struct parse_case {
  std::vector<std::string> words;
  std::vector<std::pair<const char*, int64_t>> fields;
  std::vector<std::pair<const char*, std::string>> texts = {};
};

// Parses each case in a fresh run and compares the named fields.
inline void run_cases(const std::vector<parse_case>& cases) {
  for (const parse_case& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    for (const auto& [name, want] : c.fields) {
      EXPECT_EQ(settings_field(name), want) << describe(c.words) << ": " << name;
    }
    for (const auto& [name, want] : c.texts) {
      EXPECT_EQ(settings_text(name), want) << describe(c.words) << ": " << name;
    }
  }
}

}  // namespace options_test
